#pragma once
// One worker thread for a pane: slow reads (trip indexes, the trip list) run on it in the order
// asked, and what each produces is handed back to the GUI thread, where the window applies it.
// A job whose window is gone by the time it ends is dropped, never handed to a dead window.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class wxEvtHandler;

class pane_worker {
public:
    // What a job gives back: run later on the GUI thread.
    using gui_step = std::function<void()>;
    using job = std::function<gui_step()>;

    // `target` receives the GUI steps; it must outlive the worker or call detach() first.
    explicit pane_worker(wxEvtHandler* target);
    // Drops queued jobs and waits for the running one (a read cannot be broken off midway).
    ~pane_worker();
    pane_worker(const pane_worker&) = delete;
    pane_worker& operator=(const pane_worker&) = delete;

    // Queues a job; its GUI step runs on the GUI thread after every earlier job's.
    void run(job work);
    // Stops handing steps to the target: nothing reaches it after this returns.
    void detach();

private:
    void work_loop();

    std::mutex lock; // guards target, jobs and stopping
    std::condition_variable wake;
    wxEvtHandler* target;
    std::deque<job> jobs;
    bool stopping = false;
    std::thread thread;
};
