#include "engine/pipeline/pipeline_stage.h"

namespace vesperon::engine {

PipelineStage::~PipelineStage() {
    stopBase();
}

void PipelineStage::pause() {
    std::lock_guard lock(mutex_);
    paused_ = true;
    signal_.release();
}

void PipelineStage::resume() {
    std::lock_guard lock(mutex_);
    paused_ = false;
    resume_.release();
}

void PipelineStage::signal() {
    std::lock_guard lock(mutex_);
    signal_.release();
}

Status PipelineStage::resetOutput() {
    std::lock_guard lock(mutex_);
    return output_ ? output_->reset() : Status::Ok;
}

void PipelineStage::setInputRing(StreamRing* ring) {
    std::lock_guard lock(mutex_);
    input_ = ring;
}

void PipelineStage::reportEnd(Status why) {
    if (owner_) owner_->playEnded(play_, why);
}

bool PipelineStage::waitForSignal() {
    // Checked before blocking as well: stopping releases the semaphore only once, and a thread
    // may wait again on its way out.
    if (stopping()) return true;
    signal_.acquire();
    return stopping();
}

bool PipelineStage::waitForSignalUntil(std::chrono::steady_clock::time_point until) {
    if (stopping()) return true;
    (void)signal_.try_acquire_until(until);
    return stopping();
}

bool PipelineStage::waitForResume() {
    if (stopping()) return true;
    resume_.acquire();
    return stopping();
}

void PipelineStage::requestStop() {
    std::lock_guard lock(mutex_);
    stop_ = true;
    signal_.release();
    resume_.release();
}

void PipelineStage::stopBase() {
    requestStop();
    std::lock_guard lock(mutex_);
    if (output_) output_->close();
}

}  // namespace vesperon::engine
