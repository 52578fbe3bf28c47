#pragma once
// The first stage of a play: its reader thread reads the file (deciphering it when a password
// is set) block by block (SourceFile::readBlock) into the byte ring until the end of the file.

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "engine/mpeg/source_file.h"
#include "engine/pipeline/pipeline_stage.h"

namespace vesperon::engine {

class FileSource : public PipelineStage {
public:
    static constexpr std::size_t kBlockSize = mpeg::kReadBlockSize;
    static constexpr std::size_t kRingSize = 65536;
    static constexpr std::size_t kRingOverhang = kBlockSize;

    FileSource(RequestSink* owner, std::uint64_t play) : PipelineStage(owner, play) {}
    ~FileSource() override;

    void setFile(const std::string& name, const std::string& password);
    // Creates the byte ring, opens the file, starts the reader thread (waiting for its first
    // signal). Ok and the ring, or why the file did not open (SourceFile::open), or
    // ReaderThreadFailed.
    Status open(StreamRing** ring);
    // Moves the file position (origin as for lseek) and empties the ring: Ok, or SeekFailed.
    Status seek(std::int64_t offset, int origin);
    // Back to the start of the file, ring emptied.
    Status resetOutput() override;
    void close();
    // Stops and joins the reader thread.
    void stopThread();
    std::int64_t dataLength() const;
    const std::string& fileName() const { return name_; }
    // The stage reading the ring, signalled after every block so it need not poll.
    void setReader(PipelineStage* reader);

private:
    void run();

    std::string name_;
    std::string password_;
    mutable std::mutex fileMutex_;  // the file position: the reader thread and seeks
    mpeg::SourceFile file_;
    PipelineStage* reader_ = nullptr;
    std::thread thread_;
};

}  // namespace vesperon::engine
