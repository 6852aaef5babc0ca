#include "media/image_threads.h"

#include <opencv2/core/utility.hpp>

namespace media {

void keep_image_work_on_calling_threads() {
    cv::setNumThreads(0);
}

} // namespace media
