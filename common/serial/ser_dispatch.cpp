#include <condition_variable>
#include <memory>
#include <mutex>

#include "common/serial/ser_comm.h"

namespace common {

void TSerDirectDispatch(const std::function<void()>& job, std::stop_token) {
    job();
}

TSerDispatcher MakeBlockingDispatcher(std::function<void(std::function<void()>)> post,
                                      std::function<bool()> on_owner_thread) {
    return [post = std::move(post), on_owner_thread = std::move(on_owner_thread)](
               const std::function<void()>& job, std::stop_token stop) {
        if (on_owner_thread && on_owner_thread()) {
            job();
            return;
        }
        struct State {
            std::mutex mutex;
            std::condition_variable_any cv;
            bool done = false;
        };
        auto state = std::make_shared<State>();
        post([state, job] {
            job();
            {
                std::lock_guard lock(state->mutex);
                state->done = true;
            }
            state->cv.notify_all();
        });
        std::unique_lock lock(state->mutex);
        state->cv.wait(lock, stop, [&] { return state->done; });
    };
}

}  // namespace common
