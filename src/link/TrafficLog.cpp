#include "TrafficLog.h"

#include <algorithm>
#include <cstring>

namespace quor {

namespace {

const char kLineBreak[] = "\r\n";
const char kMarker[] = ":.....";

// A record: flags (bit 0: sent), the time stamp's length, the text's length (four bytes,
// in the machine's order), the time stamp, the text.
constexpr size_t kRecordHead = 1 + 1 + 4;
// Blocks of a sixteenth of the budget, within these bounds: small enough that releasing the
// oldest block costs little history, large enough that the blocks' own bookkeeping is
// negligible.
constexpr size_t kSmallestBlock = 256;
constexpr size_t kLargestBlock = 64 * 1024;
constexpr size_t kLongestStamp = 255;

}  // namespace

struct TTrafficLog::TBlock {
    std::unique_ptr<char[]> Data;
    size_t Capacity = 0;
    size_t Used = 0;
    size_t Count = 0;
    size_t Cost() const { return Capacity + sizeof(TBlock); }
};

TTrafficLog::TTrafficLog() = default;
TTrafficLog::~TTrafficLog() = default;

size_t TTrafficLog::BlockBytes() const { return std::clamp(FBudget / 16, kSmallestBlock, kLargestBlock); }

void TTrafficLog::SetBudget(size_t Bytes) { FBudget = Bytes; }

// Releases the oldest blocks until `bytes` more fit within the budget (an entry larger than
// the whole budget is kept, alone).
void TTrafficLog::MakeRoom(size_t bytes) {
    while (!FBlocks.empty() && FMemoryUsed + bytes > FBudget) {
        FMemoryUsed -= FBlocks.front().Cost();
        FCount -= FBlocks.front().Count;
        FBlocks.pop_front();
        FTrimmed = true;
    }
}

void TTrafficLog::Append(const std::string& Stamp, const std::string& Text, bool Sent) {
    const std::string stamp = Stamp.substr(0, kLongestStamp);
    const size_t record = kRecordHead + stamp.size() + Text.size();
    if (FBlocks.empty() || FBlocks.back().Capacity - FBlocks.back().Used < record || FMemoryUsed > FBudget) {
        TBlock block;
        block.Capacity = std::max(BlockBytes(), record);
        MakeRoom(block.Cost());
        block.Data.reset(new char[block.Capacity]);
        FMemoryUsed += block.Cost();
        FBlocks.push_back(std::move(block));
    }
    TBlock& block = FBlocks.back();
    char* at = block.Data.get() + block.Used;
    const uint32_t length = static_cast<uint32_t>(Text.size());
    at[0] = Sent ? 1 : 0;
    at[1] = static_cast<char>(static_cast<unsigned char>(stamp.size()));
    std::memcpy(at + 2, &length, sizeof length);
    std::memcpy(at + kRecordHead, stamp.data(), stamp.size());
    std::memcpy(at + kRecordHead + stamp.size(), Text.data(), Text.size());
    FLastAt = block.Used;
    block.Used += record;
    ++block.Count;
    ++FCount;
    if (OnAppend) OnAppend(Back());
}

void TTrafficLog::Clear() {
    FBlocks.clear();
    FMemoryUsed = 0;
    FCount = 0;
    FLastAt = 0;
    FTrimmed = false;
    if (OnClear) OnClear();
}

TTrafficLog::TRecord TTrafficLog::RecordAt(size_t block, size_t at) const {
    const char* record = FBlocks[block].Data.get() + at;
    const size_t stamp = static_cast<unsigned char>(record[1]);
    uint32_t length = 0;
    std::memcpy(&length, record + 2, sizeof length);
    return {(record[0] & 1) != 0, std::string_view(record + kRecordHead, stamp),
            std::string_view(record + kRecordHead + stamp, length)};
}

size_t TTrafficLog::RecordSize(size_t block, size_t at) const {
    const TRecord record = RecordAt(block, at);
    return kRecordHead + record.Stamp.size() + record.Text.size();
}

TTrafficEntry TTrafficLog::EntryAt(size_t block, size_t at) const {
    const TRecord record = RecordAt(block, at);
    return {TrafficEntryText(record.Stamp, record.Text), record.Sent};
}

std::string TrafficEntryText(std::string_view Stamp, std::string_view Text) {
    std::string entry;
    entry.reserve(std::strlen(kLineBreak) + Stamp.size() + std::strlen(kMarker) + Text.size());
    entry.append(kLineBreak).append(Stamp).append(kMarker).append(Text);
    return entry;
}

TTrafficLog::TEntries TTrafficLog::Entries() const { return TEntries(this); }

TTrafficLog::TIterator TTrafficLog::Begin() const {
    return FCount == 0 ? End() : TIterator(this, 0, 0);
}

TTrafficLog::TIterator TTrafficLog::End() const { return TIterator(this, FBlocks.size(), 0); }

TTrafficEntry TTrafficLog::Back() const { return EntryAt(FBlocks.size() - 1, FLastAt); }

TTrafficEntry TTrafficLog::TIterator::operator*() const { return FLog->EntryAt(FBlock, FAt); }

TTrafficLog::TIterator& TTrafficLog::TIterator::operator++() {
    FAt += FLog->RecordSize(FBlock, FAt);
    if (FAt >= FLog->FBlocks[FBlock].Used) {
        ++FBlock;
        FAt = 0;
    }
    return *this;
}

TTrafficEntry TTrafficLog::TEntries::operator[](size_t index) const {
    TIterator it = begin();
    for (size_t i = 0; i < index; ++i) ++it;
    return *it;
}

}  // namespace quor
