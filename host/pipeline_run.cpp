#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "batch_filler.h"
#include "pipeline_impl.h"
#include "row_queue.h"
#include "stop_clock.h"

namespace texthost {
namespace {

// A batch of some tens of kilobytes of packed rows makes the hand-over between threads rare
// next to the rows' own work: each hand-over that wakes the other side costs it a sleep and a
// wake-up, which on a virtual machine cost as much as a few hundred rows. Larger batches cost
// more than they save: the batch being filled, the one being read and each step's file buffer
// then no longer fit a core's own cache together, and every value is fetched from memory
// twice (a 64 KB batch took a CSV copy from 1.04 s to 0.87 s against 256 KB, with 1 MB file
// buffers then). A batch holds at most a couple of thousand rows, and at least one, however
// wide. (Rows a slow source gives wait in a batch as they would in the destination's output
// buffer.)
//
// Sixteen batches go round (a megabyte of rows in flight): the side that runs ahead sleeps half
// as often as with eight, and the side behind rides out more of the other's hiccups (a page of
// the input read from disk, a moment off its core) before it runs dry. With eight, the reading
// thread of a CSV copy slept 170-220 times and the writing thread waited 50-100 ms for rows;
// with sixteen, 50-100 times and 17-34 ms.
constexpr size_t kBatchBytes = size_t{64} << 10;
constexpr int kMostBatchRows = 2048;
constexpr int kBatchesPerQueue = 16;

/// Marks of the fields of `items` whose names `readers` (the steps after the one that gives
/// them, the next one first) said they use: a step hands its input on to the next, so a field
/// crosses while any later step names it. Empty when one of them names no field, as such a
/// step may read any, when the next one names a field that `items` lacks, as its names cannot
/// be trusted then (nothing is left out on a misspelt name), and when every field is read.
std::vector<unsigned char> fieldsRead(const StepOutputItems* items,
                                      const std::vector<const StepContext*>& readers) {
    if (items == nullptr || readers.empty()) return {};
    std::unordered_set<std::string_view> given;
    for (int k = 0; k < items->count; ++k)
        given.insert(items->items[k].name.view());
    for (const std::string& name : readers.front()->usedFields()) {
        if (!given.contains(name)) return {};
    }
    std::unordered_set<std::string_view> names;
    for (const StepContext* reader : readers) {
        const std::vector<std::string>& used = reader->usedFields();
        if (used.empty()) return {};
        names.insert(used.begin(), used.end());
    }
    std::vector<unsigned char> marks(static_cast<size_t>(items->count), 0);
    bool all = true;
    for (size_t k = 0; k < marks.size(); ++k) {
        marks[k] = names.contains(items->items[k].name.view()) ? 1 : 0;
        all = all && marks[k] != 0;
    }
    // Every field read: nothing to leave out, and no mark to look at for every value.
    if (all) return {};
    return marks;
}

/// One thread, the steps it runs and what it shares with the driver. The thread pulls the last
/// step of its share, which pulls the ones before it as in one thread; the first reads from the
/// queue of the thread before, or is the chain's source.
struct StepThread {
    std::vector<StepContext*> share;  ///< in chain order
    StepContext* step = nullptr;      ///< the last of the share, which the thread pulls
    RunLog* log = nullptr;
    RowQueue* output = nullptr;  ///< null for the last share
    int code = 0;                ///< the step's last processRow answer; 0 when its reader left
    bool forcedStop = false;     ///< the thread ended the run after a stop request
    std::atomic<bool> statusWanted{false};
    std::mutex statusMutex;
    std::vector<StepStatus> status;  ///< of each step of the share, once asked

    /// getStatus is asked from the steps' own thread, never while another thread is inside
    /// one of them.
    void offerStatus() {
        if (!statusWanted.load(std::memory_order_relaxed)) [[likely]]
            return;
        statusWanted.store(false, std::memory_order_relaxed);
        std::vector<StepStatus> now;
        now.reserve(share.size());
        for (StepContext* each : share)
            now.push_back(each->status());
        const std::lock_guard<std::mutex> hold(statusMutex);
        status = std::move(now);
    }
    /// The chain's source, the step that stops on a stop request.
    bool first() const { return share.front()->queuedInput() == nullptr; }
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

/// A share that feeds another: each row its last step gives is packed into the batch being
/// filled (see BatchFiller), and a full batch, or the last one with the step's end, goes to
/// the next share. A batch is taken before the step is called, so that once the next share
/// left, this one is not called. Only the share of the source stops on a stop request (and on
/// its own when the source does not ask); a later one hands on everything it was given, so
/// that every step ends at the same row.
void runFeeding(StepThread& t) {
    StopClock stop;
    const bool first = t.first();
    RowQueue& out = *t.output;
    const size_t width = out.width();
    BatchFiller filler;
    RowBatch* batch = out.acquire();
    if (batch != nullptr) filler.start(batch);
    while (batch != nullptr) {
        int code = t.step->pullRow();
        const StepOutputItems* row = t.step->outputItems();
        if (code == 0 && (row == nullptr || static_cast<size_t>(row->count) != width))
            [[unlikely]] {
            // The next step's input list was made for the fields the step declared before
            // rows began to flow.
            t.log->error(t.step->name(),
                         "the step changed its output fields while handing on rows");
            code = 2;
        }
        if (code == 0) {
            filler.append(row->items, width, out.carried());
            if (first && stop.expired()) [[unlikely]] {
                code = 2;
                t.forcedStop = true;
            } else if (!out.full(filler.rows(), filler.bytes())) {
                t.offerStatus();
                continue;
            }
        }
        filler.finish();
        batch->endCode = code;
        batch->expectedKnown = t.step->getExpectedRows(&batch->expected);
        out.publish(batch);
        if (code != 0) {
            t.code = code;
            break;
        }
        t.offerStatus();
        batch = out.acquire();
        if (batch != nullptr) filler.start(batch);
    }
}

void runStep(StepThread& t) {
    if (t.output == nullptr) {
        runLast(t);
    } else {
        runFeeding(t);
    }
    // Whatever ended this share, the one before it hands on nothing more.
    if (QueuedInput* input = t.share.front()->queuedInput()) input->leave();
}

}  // namespace

bool Pipeline::threaded() const {
    return impl_->threaded();
}

int Pipeline::run(bool& stopped) {
    Impl& d = *impl_;
    if (!d.threaded() || d.endCode || !d.running) {
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
    const size_t count = d.shareFirsts.size();
    std::vector<std::unique_ptr<RowQueue>> queues;
    std::vector<StepThread> threads(count);
    for (size_t i = 0; i < count; ++i) {
        const size_t end = i + 1 < count ? d.shareFirsts[i + 1] : d.steps.size();
        for (size_t k = d.shareFirsts[i]; k < end; ++k)
            threads[i].share.push_back(d.steps[k].get());
        threads[i].step = threads[i].share.back();
        threads[i].log = &d.shared.log;
        // The first progress report already has every step's status.
        threads[i].statusWanted.store(true, std::memory_order_relaxed);
        if (i + 1 == count) break;
        const StepOutputItems* items = threads[i].step->outputItems();
        const size_t width = items != nullptr && items->count > 0 ? items->count : 0;
        queues.push_back(
            std::make_unique<RowQueue>(width, kBatchBytes, kMostBatchRows, kBatchesPerQueue));
        // The fields no later step reads cross as nulls, a byte each.
        std::vector<const StepContext*> readers;
        for (size_t j = end; j < d.steps.size(); ++j)
            readers.push_back(d.steps[j].get());
        queues.back()->carryOnly(fieldsRead(items, readers));
        threads[i].output = queues.back().get();
        d.steps[end]->queuedInput()->beginThreads(threads[i].output);
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
                    // A thread that has not answered since the last interval is inside a call
                    // of its steps (a wait for data, say): the host's counts of their rows are
                    // read as they stand, rather than the ones of the last answer.
                    const bool behind = t.statusWanted.load(std::memory_order_relaxed);
                    for (size_t k = 0; k < t.status.size(); ++k) {
                        status.push_back(t.status[k]);
                        if (behind) {
                            status.back().current = false;
                            status.back().rows = t.share[k]->rowCount();
                        }
                    }
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
        d.steps[d.shareFirsts[i]]->queuedInput()->endThreads();
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
