#include "BitBuffer.h"

#include <algorithm>
#include <cstring>

namespace velora {

int BitBuffer::RoundedSize(int requested) {
    int size = kMinSize;
    while (size < requested && size < kMaxSize) size <<= 1;
    return size;
}

void BitBuffer::Init(uint8_t* storage, int requestedSize) {
    data_ = storage;
    sizeBytes_ = static_cast<uint32_t>(RoundedSize(requestedSize));
    byteMask_ = sizeBytes_ - 1;
    bitMask_ = sizeBytes_ * 8 - 1;
    Clear();
}

void BitBuffer::Clear() {
    unreadBits_ = 0;
    writePos_ = 0;
    consumedBits_ = 0;
    readPos_ = 0;
    endOfData_ = false;
}

int BitBuffer::Free() const {
    const int sizeBits = static_cast<int>(sizeBytes_) * 8;
    // A reader that ran past the written data leaves unreadBits_ negative; never report
    // more room than the storage has.
    const int unread = std::clamp(unreadBits_, 0, sizeBits);
    return (sizeBits - unread) / 8;
}

int BitBuffer::Write(const uint8_t* bytes, int length) {
    if (length <= 0 || bytes == nullptr) return 0;
    const int count = std::min(length, Free());
    int done = 0;
    while (done < count) {
        const int chunk = std::min(count - done, static_cast<int>(sizeBytes_ - writePos_));
        std::memcpy(data_ + writePos_, bytes + done, static_cast<size_t>(chunk));
        writePos_ = (writePos_ + static_cast<uint32_t>(chunk)) & byteMask_;
        done += chunk;
    }
    unreadBits_ += count * 8;
    return count;
}

int BitBuffer::MoveBytes(BitBuffer& from, int count) {
    const int available = std::max(from.unreadBits_, 0) / 8;
    const int moved = std::clamp(std::min(count, available), 0, Free());
    if ((from.readPos_ & 7) == 0) {
        // Byte-aligned source: copy runs up to either buffer's wrap point.
        int done = 0;
        while (done < moved) {
            const uint32_t src = from.readPos_ >> 3;
            const int run = std::min({moved - done, static_cast<int>(from.sizeBytes_ - src),
                                      static_cast<int>(sizeBytes_ - writePos_)});
            std::memcpy(data_ + writePos_, from.data_ + src, static_cast<size_t>(run));
            from.Advance(run * 8);
            writePos_ = (writePos_ + static_cast<uint32_t>(run)) & byteMask_;
            done += run;
        }
    } else {
        for (int i = 0; i < moved; ++i) {
            data_[writePos_] = static_cast<uint8_t>(from.Read(8));
            writePos_ = (writePos_ + 1) & byteMask_;
        }
    }
    unreadBits_ += moved * 8;
    return moved;
}

}  // namespace velora
