// When changes reach the screen: at most once a frame, and only when the owner has nothing else
// to do.
//
// Win32 generates WM_PAINT only when a thread's queue is otherwise empty, and every invalidation
// made meanwhile merges into one update region, so a window that changes a hundred times a second
// is not painted a hundred times. Qt asks a top-level window to repaint (QEvent::UpdateRequest)
// after every turn of its event loop that changed something, and each repaint is a flush to the
// X server. The frame clock holds those requests back to one per frame: a request that comes
// sooner is kept and re-issued at the frame's end, by then covering every change made since.
//
// While the clock runs it also collects the update regions of class windows that other threads
// invalidated, so that an invalidation need not wake the owner thread: the next frame passes the
// regions to Qt. The clock stops after a frame with nothing to show.
//
// A frame is never shown between a timer's callback and the sends of the threads it woke. Win32
// serves a waiting send before it generates WM_PAINT; here a send only arrives a few tens of
// microseconds after the callback signalled its thread, and a frame begun meanwhile (the views
// brought up to date, a repaint and its flush to the X server) would hold it back for as long
// as the frame takes. So after a callback the frame waits until a send has been served, or for
// at most kYieldUs when none comes; and no frame begins just before a timer expires.
#include <sched.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <functional>
#include <vector>

#include "user_private.h"

namespace w32 {
namespace {

// 60 frames a second: no screen here shows more.
constexpr qint64 kFrameMs = 16;
// How much later than due the fallback timer shows a frame, leaving the owner's own wake-ups
// the chance to show it first.
constexpr qint64 kSlackMs = 4;
// How long a due frame waits, after a timer's callback, for a send of the thread it woke.
constexpr qint64 kYieldUs = 2000;
// How long before a timer's expiry no frame begins: longer than a frame takes.
constexpr qint64 kBeforeTimerUs = 1500;

class FrameClock : public QObject {
public:
    FrameClock() {
        clock_.start();
        fallback_.setTimerType(Qt::PreciseTimer);
        fallback_.setSingleShot(true);
        // A frame that is due is shown when the owner has handled what woke it and is about to
        // sleep, so that showing it needs no wake-up of its own. The fallback timer only wakes
        // the owner when nothing else does: the frame then comes after every timer due at the
        // same moment, the callbacks among them, and never before.
        QObject::connect(&fallback_, &QTimer::timeout, this, [] {});
        QObject::connect(QAbstractEventDispatcher::instance(),
                         &QAbstractEventDispatcher::aboutToBlock, this, [this] {
                             // Waiting sends before the frame; then those the frame let in.
                             const bool answered = answered_since_woken();
                             if (running && clock_.elapsed() - last_frame() >= kFrameMs &&
                                 !yielding()) {
                                 // A thread just answered is most often queued on this
                                 // processor, behind the owner: it goes on first (a worker
                                 // reads its clock right after its first field update), the
                                 // frame after it.
                                 if (answered) sched_yield();
                                 tick();
                             }
                             owner_about_to_sleep();
                         });
        QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                         this, [] { owner_woke(); });
    }

    // Guarded by paint_mutex(): read by threads that invalidate. Written on the owner thread.
    bool running = false;

    // Owner thread, caller holds paint_mutex().
    void start_locked() {
        running = true;
        arm();
    }

    void release(QWidget* window) {
        if (std::find(released_.begin(), released_.end(), window) == released_.end())
            released_.emplace_back(window);
    }

    void timer_called_back() {
        yield_since_ns_ = clock_.nsecsElapsed();
        // The frame is shown once the send came, or when the wait is over.
        if (running) arm();
    }

    void sends_served() { yield_since_ns_ = -1; }

    void add_hook(QObject* context, std::function<void()> fn) {
        hooks_.push_back(Hook{context, std::move(fn)});
        std::lock_guard<std::mutex> lock(paint_mutex());
        start_locked();
    }

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() != QEvent::UpdateRequest || !o->isWidgetType()) return false;
        auto* w = static_cast<QWidget*>(o);
        if (!w->isWindow()) return false;
        qint64 now = clock_.elapsed();
        auto it = std::find(released_.begin(), released_.end(), w);
        bool released = it != released_.end();
        if (released) released_.erase(it);
        if (released || (now - last_paint_ >= kFrameMs && !yielding())) {
            last_paint_ = now;
            return false;  // due: Qt paints every change at once and flushes once
        }
        if (std::find(held_.begin(), held_.end(), w) == held_.end()) held_.emplace_back(w);
        std::lock_guard<std::mutex> lock(paint_mutex());
        start_locked();
        return true;
    }

private:
    struct Hook {
        QPointer<QObject> context;
        std::function<void()> fn;
    };

    // True while a due frame waits for the sends of a thread that a timer's callback woke.
    bool yielding() {
        // Nor does a frame begin just before a timer expires: its callback would wait for it.
        const long long to_timer = ns_to_next_timer();
        if (to_timer >= 0 && to_timer < kBeforeTimerUs * 1000) return true;
        if (yield_since_ns_ < 0) return false;
        if (clock_.nsecsElapsed() - yield_since_ns_ < kYieldUs * 1000) return true;
        yield_since_ns_ = -1;
        return false;
    }

    void arm() {
        qint64 wait = last_frame() + kFrameMs - clock_.elapsed();
        if (yield_since_ns_ >= 0) {
            // Wakes the owner when the wait for a send is over, should nothing else wake it.
            qint64 yield_end_ms = (yield_since_ns_ / 1000 + kYieldUs + 999) / 1000;
            wait = std::max(wait, yield_end_ms - clock_.elapsed());
        }
        qint64 due = clock_.elapsed() + std::max<qint64>(wait, 0) + kSlackMs;
        if (fallback_.isActive() && fallback_due_ >= due) return;
        fallback_due_ = due;
        fallback_.start(static_cast<int>(std::max<qint64>(wait, 0) + kSlackMs));
    }

    qint64 last_frame() const { return std::max(last_paint_, last_tick_); }

    // Brings the views up to date and re-issues the repaints held back, which are due now.
    void tick() {
        last_tick_ = clock_.elapsed();
        fallback_.stop();
        std::vector<Hook> hooks;
        hooks.swap(hooks_);
        for (auto& h : hooks)
            if (h.context) h.fn();
        // A repaint re-issued to a window destroyed before it came is never seen again.
        released_.erase(std::remove(released_.begin(), released_.end(), nullptr), released_.end());
        std::vector<QPointer<QWidget>> held;
        held.swap(held_);
        bool collected = collect_invalid_regions();
        for (auto& w : held) {
            if (!w) continue;
            released_.emplace_back(w);
            QCoreApplication::postEvent(w, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
        }
        std::lock_guard<std::mutex> lock(paint_mutex());
        if (hooks.empty() && held.empty() && !collected && !has_invalid_regions_locked()) {
            // An invalidation after this finds the clock stopped and wakes the owner itself.
            running = false;
        } else {
            arm();
        }
    }

    QElapsedTimer clock_;
    QTimer fallback_;
    qint64 last_paint_ = -kFrameMs;
    qint64 last_tick_ = -kFrameMs;
    qint64 fallback_due_ = 0;
    qint64 yield_since_ns_ = -1;  // when a timer's callback ran that no send has followed yet
    std::vector<QPointer<QWidget>> held_;      // windows whose repaint waits for the next frame
    std::vector<QPointer<QWidget>> released_;  // their repaints, re-issued by the clock: due
    std::vector<Hook> hooks_;                  // what brings views up to date at the next frame
};

FrameClock* frame_clock = nullptr;  // made on the owner thread, lives with the process

}  // namespace

void install_frame_clock() {
    if (frame_clock) return;
    frame_clock = new FrameClock;
    QCoreApplication::instance()->installEventFilter(frame_clock);
}

void before_next_frame(QObject* context, std::function<void()> fn) {
    if (frame_clock) frame_clock->add_hook(context, std::move(fn));
    else fn();
}

void paint_at_once(QWidget* window) {
    if (frame_clock) frame_clock->release(window);
}

bool frame_clock_running_locked() { return frame_clock && frame_clock->running; }

void frame_after_timer_callback() {
    if (frame_clock) frame_clock->timer_called_back();
}

void frame_after_sends() {
    if (frame_clock) frame_clock->sends_served();
}

}  // namespace w32
