#pragma once
// A bounded wait on a libpulse threaded main loop, shared by the pulse output and the pulse mixer.

#include <pulse/pulseaudio.h>

#include <chrono>

namespace vesperon::engine {

namespace pulse_wait_detail {
struct Deadline {
    pa_threaded_mainloop* loop;
    bool passed = false;
};
inline void onDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* d) {
    auto* deadline = static_cast<Deadline*>(d);
    deadline->passed = true;
    pa_threaded_mainloop_signal(deadline->loop, 0);
}
}  // namespace pulse_wait_detail

// With the loop's lock held: waits until done() or `limit` has passed. The callbacks must signal
// the loop on every answer and state change they see.
template <class Done, class Rep, class Period>
bool waitLocked(pa_threaded_mainloop* loop, Done done, std::chrono::duration<Rep, Period> limit) {
    if (done()) return true;
    pulse_wait_detail::Deadline deadline{loop};
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
    timeval at{};
    pa_gettimeofday(&at);
    pa_timeval_add(
        &at, static_cast<pa_usec_t>(std::chrono::duration_cast<std::chrono::microseconds>(limit).count()));
    pa_time_event* timer = api->time_new(api, &at, &pulse_wait_detail::onDeadline, &deadline);
    while (!done() && !deadline.passed) pa_threaded_mainloop_wait(loop);
    if (timer) api->time_free(timer);
    return done();
}

}  // namespace vesperon::engine
