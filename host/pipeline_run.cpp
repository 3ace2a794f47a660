#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "pipeline_impl.h"
#include "row_queue.h"
#include "stop_clock.h"

namespace texthost {
namespace {

// A batch of a few hundred rows makes the hand-over between threads rare next to the rows'
// own work; a few batches per queue let a step run ahead of the next one without holding
// more than a few hundred kilobytes of values.
constexpr int kBatchRows = 256;
constexpr int kBatchesPerQueue = 4;
// Rows of long texts fill a batch by their bytes first, so that a queue holds a few megabytes
// at most whatever the rows are like (the slots keep the storage of what they held).
constexpr size_t kBatchTextBytes = size_t{1} << 20;

/// One step's thread and what it shares with the driver.
struct StepThread {
    StepContext* step = nullptr;
    RowQueue* output = nullptr;  ///< null for the last step
    int code = 0;                ///< the step's last processRow answer; 0 when its reader left
    bool forcedStop = false;     ///< the thread ended the run after a stop request
    std::atomic<bool> statusWanted{false};
    std::mutex statusMutex;
    std::optional<StepStatus> status;

    /// getStatus is asked from the step's own thread, never while another thread is inside it.
    void offerStatus() {
        if (!statusWanted.load(std::memory_order_relaxed)) [[likely]]
            return;
        statusWanted.store(false, std::memory_order_relaxed);
        StepStatus now = step->status();
        const std::lock_guard<std::mutex> hold(statusMutex);
        status = std::move(now);
    }
};

/// The last step: pulls until it answers non-zero.
void runLast(StepThread& t) {
    StopClock stop;
    for (;;) {
        const int code = t.step->pullRow();
        if (code != 0) {
            t.code = code;
            return;
        }
        if (stop.expired()) [[unlikely]] {
            t.code = 2;
            t.forcedStop = true;
            return;
        }
        t.offerStatus();
    }
}

/// A step that feeds another: each row's values are moved into the batch being filled (a long
/// text's storage changes hands, the slot's old storage going back to the row), and
/// a full batch, or the last one with the step's end, goes to the next step. A batch is
/// taken before the step is called, so that once the next step left, this one is not called.
void runFeeding(StepThread& t) {
    StopClock stop;
    RowQueue& out = *t.output;
    StepOutputItems* row = t.step->getOutputRow();
    const size_t width = static_cast<size_t>(std::min(row->count, out.width()));
    const size_t stride = static_cast<size_t>(out.width());
    RowBatch* batch = out.acquire();
    size_t textBytes = 0;
    while (batch != nullptr) {
        int code = t.step->pullRow();
        if (code == 0) {
            MvbDatavar* slot = batch->values.data() + static_cast<size_t>(batch->rows) * stride;
            for (size_t k = 0; k < width; ++k) {
                slot[k] = std::move(row->items[k].value);
                textBytes += slot[k].stringView().size();
            }
            ++batch->rows;
            if (stop.expired()) [[unlikely]] {
                code = 2;
                t.forcedStop = true;
            } else if (batch->rows < out.batchRows() && textBytes < kBatchTextBytes) {
                t.offerStatus();
                continue;
            }
        }
        batch->endCode = code;
        batch->expectedKnown = t.step->getExpectedRows(&batch->expected);
        out.publish(batch);
        if (code != 0) {
            t.code = code;
            return;
        }
        t.offerStatus();
        batch = out.acquire();
        textBytes = 0;
    }
}

void runStep(StepThread& t) {
    if (t.output == nullptr) {
        runLast(t);
    } else {
        runFeeding(t);
    }
    // Whatever ended this step, the one before it hands on nothing more.
    if (QueuedInput* input = t.step->queuedInput()) input->leave();
}

}  // namespace

bool Pipeline::threaded() const {
    return impl_->threaded;
}

int Pipeline::run(bool& stopped) {
    Impl& d = *impl_;
    if (!d.threaded || d.endCode || !d.running) {
        StopClock stop;
        for (;;) {
            const int code = pull();
            if (code != 0) {
                stopped = stopRequested();
                return code;
            }
            if (stop.expired()) [[unlikely]] {
                stopped = true;
                return 2;
            }
        }
    }
    const size_t count = d.steps.size();
    std::vector<std::unique_ptr<RowQueue>> queues;
    std::vector<StepThread> threads(count);
    for (size_t i = 0; i < count; ++i) {
        threads[i].step = d.steps[i].get();
        // The first progress report already has every step's status.
        threads[i].statusWanted.store(true, std::memory_order_relaxed);
        if (i + 1 == count) break;
        const StepOutputItems* items = d.steps[i]->outputItems();
        queues.push_back(std::make_unique<RowQueue>(items != nullptr ? items->count : 0, kBatchRows,
                                                    kBatchesPerQueue));
        threads[i].output = queues.back().get();
        d.steps[i + 1]->queuedInput()->beginThreads(threads[i].output);
    }
    d.shared.threaded = true;

    std::mutex doneMutex;
    std::condition_variable doneSignal;
    size_t done = 0;
    std::vector<std::thread> running;
    running.reserve(count);
    std::optional<std::string> launchError;
    for (StepThread& t : threads) {
        try {
            running.emplace_back([&t, &d, &queues, &doneMutex, &doneSignal, &done] {
                try {
                    runStep(t);
                } catch (...) {
                    // Out of memory for a status text, say: the steps on either side must not
                    // wait for this one, so every queue lets go.
                    t.code = 2;
                    for (auto& queue : queues)
                        queue->abort();
                    try {
                        d.shared.log.error(t.step->name(), "the step's thread failed unexpectedly");
                    } catch (...) {
                    }
                }
                const std::lock_guard<std::mutex> hold(doneMutex);
                ++done;
                doneSignal.notify_all();
            });
        } catch (const std::exception& e) {
            // The steps already running end as if the host stopped them.
            launchError = e.what();
            for (auto& queue : queues)
                queue->abort();
            break;
        }
    }

    {
        const auto interval = std::chrono::milliseconds(std::max(1, d.options.progressIntervalMs));
        const size_t launched = running.size();
        std::unique_lock<std::mutex> hold(doneMutex);
        while (done < launched) {
            if (!d.options.onProgress) {
                doneSignal.wait(hold, [&] { return done == launched; });
                break;
            }
            if (doneSignal.wait_for(hold, interval, [&] { return done == launched; })) break;
            hold.unlock();
            std::vector<StepStatus> status;
            for (StepThread& t : threads) {
                {
                    const std::lock_guard<std::mutex> statusHold(t.statusMutex);
                    if (t.status) status.push_back(*t.status);
                }
                t.statusWanted.store(true, std::memory_order_relaxed);
            }
            if (!status.empty()) {
                const auto logHold = d.shared.log.lock();
                d.options.onProgress(status);
            }
            hold.lock();
        }
    }
    for (std::thread& thread : running)
        thread.join();

    d.shared.threaded = false;
    for (size_t i = 1; i < count; ++i)
        d.steps[i]->queuedInput()->endThreads();
    if (launchError) {
        d.shared.log.error("", "the steps could not each be given a thread: " + *launchError);
        d.endCode = 2;
        return 2;
    }
    const StepThread& last = threads.back();
    d.rows = last.step->rowCount();
    d.endCode = last.code;
    bool forced = false;
    for (const StepThread& t : threads)
        forced = forced || t.forcedStop;
    stopped = forced || stopRequested();
    return last.code;
}

}  // namespace texthost
