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

// A batch of a few thousand values makes the hand-over between threads rare next to the rows'
// own work; a few batches per queue let a step run ahead of the next one without holding
// more than a few hundred kilobytes of values. Batches are sized by values, not rows, so that
// a row of many thousands of fields costs as much room as that many narrow rows would; but
// never more than a few hundred rows, nor less than one.
constexpr size_t kBatchValues = 4096;
constexpr size_t kMostBatchRows = 256;
constexpr int kBatchesPerQueue = 4;
// Rows of long texts fill a batch by their bytes first, so that a queue holds a few megabytes
// at most whatever the rows are like (the slots keep the storage of what they held).
constexpr size_t kBatchTextBytes = size_t{1} << 20;

int batchRowsFor(int width) {
    const size_t values = width > 0 ? static_cast<size_t>(width) : 1;
    return static_cast<int>(std::clamp<size_t>(kBatchValues / values, 1, kMostBatchRows));
}

/// A row wider than a batch holds it alone, and two of them are all a queue needs to keep both
/// threads busy.
int batchCountFor(int width) {
    return static_cast<size_t>(width) > kBatchValues ? 2 : kBatchesPerQueue;
}

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

/// The last step: pulls until it answers non-zero. A stop ends it as its input ends.
void runLast(StepThread& t) {
    for (;;) {
        const int code = t.step->pullRow();
        if (code != 0) {
            t.code = code;
            return;
        }
        t.offerStatus();
    }
}

/// A step that feeds another: the step fills each row where it lies in the batch being filled
/// (its output row is the batch's next row), and a full batch, or the last one with the step's
/// end, goes to the next step. A batch is taken before the step is called, so that once the
/// next step left, this one is not called. Only the first step stops on a stop request (and
/// on its own when it does not ask); a later one hands on everything it was given, so that
/// every step ends at the same row.
void runFeeding(StepThread& t) {
    StopClock stop;
    const bool first = t.step->queuedInput() == nullptr;
    RowQueue& out = *t.output;
    const size_t width = out.width();
    RowBatch* batch = out.acquire();
    size_t textBytes = 0;
    while (batch != nullptr) {
        StepOutputItem* slot = out.row(*batch, batch->rows);
        t.step->useOutputRow(slot);
        int code = t.step->pullRow();
        if (code == 0) {
            for (size_t k = 0; k < width; ++k) {
                const size_t bytes = slot[k].value.stringView().size();
                textBytes += bytes;
                RowQueue::noteText(*batch, bytes);
            }
            ++batch->rows;
            if (first && stop.expired()) [[unlikely]] {
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
            break;
        }
        t.offerStatus();
        batch = out.acquire();
        textBytes = 0;
    }
    t.step->useOutputRow(nullptr);
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
        const int width = items != nullptr ? items->count : 0;
        queues.push_back(
            std::make_unique<RowQueue>(items, batchRowsFor(width), batchCountFor(width)));
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
    for (size_t i = 0; i < count; ++i) {
        // Whatever ended a thread, no step keeps a row of a batch, which goes with its queue.
        d.steps[i]->useOutputRow(nullptr);
        if (i > 0) d.steps[i]->queuedInput()->endThreads();
    }
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
