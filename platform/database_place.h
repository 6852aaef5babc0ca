#pragma once
// Where a database about a folder lives. Beside the folder's contents as a rule; but SQLite's
// locks and its write-ahead log's shared memory are not safe on network shares (NFS, SMB/CIFS,
// 9P, Ceph) or user-space (FUSE) file systems, so the database of a folder there lives in the
// user's cache folder ($XDG_CACHE_HOME/kestrel/, else ~/.cache/kestrel/), named after the
// folder's whole path.

#include <filesystem>

namespace platform {

// True for the file systems named above, told by statfs's f_type; false when unknown.
bool on_shared_file_system(const std::filesystem::path& path);

// `folder`/`file_name`, or its place in the cache folder when `folder` is on a shared file
// system (the cache folder is made when missing).
std::filesystem::path database_place(const std::filesystem::path& folder, const char* file_name);

} // namespace platform
