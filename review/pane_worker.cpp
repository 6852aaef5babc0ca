#include "review/pane_worker.h"

#include <exception>
#include <wx/event.h>

pane_worker::pane_worker(wxEvtHandler* target) : target(target), thread([this] { work_loop(); }) {}

pane_worker::~pane_worker() {
    {
        const std::lock_guard<std::mutex> guard(lock);
        stopping = true;
        target = nullptr;
        jobs.clear();
    }
    wake.notify_one();
    thread.join();
}

void pane_worker::run(job work) {
    {
        const std::lock_guard<std::mutex> guard(lock);
        jobs.push_back(std::move(work));
    }
    wake.notify_one();
}

void pane_worker::detach() {
    const std::lock_guard<std::mutex> guard(lock);
    target = nullptr;
    jobs.clear();
}

void pane_worker::work_loop() {
    for (;;) {
        job work;
        {
            std::unique_lock<std::mutex> guard(lock);
            wake.wait(guard, [this] { return stopping || !jobs.empty(); });
            if (stopping)
                return;
            work = std::move(jobs.front());
            jobs.pop_front();
        }
        gui_step step;
        try {
            step = work();
        } catch (const std::exception&) {
            // Jobs report their own failures through their step; one that throws anyway gives
            // nothing rather than ending the program from a worker.
            continue;
        }
        const std::lock_guard<std::mutex> guard(lock);
        // Queued under the lock, so a window that detaches meanwhile never gets it.
        if (target != nullptr && step)
            target->CallAfter(std::move(step));
    }
}
