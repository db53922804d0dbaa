#include "OutputHostBuffers.h"

#include <algorithm>
#include <cstring>

namespace tessura {

uint32_t OutputHostBuffers::setBlockSize(uint32_t requested) {
    if (requested == 0) return blockSize_;
    blockSize_ = std::min(requested, kMaxBlockSize);
    work_.assign(std::size_t{blockSize_} * 8, 0);
    staging_.assign(std::size_t{blockSize_} * 4, 0);
    output_.assign(std::size_t{blockSize_} * 9, 0);
    return blockSize_;
}

std::size_t runProcessor(ProcessorInterface* processor, uint8_t* buffer, std::size_t length,
                         std::size_t capacity, uint32_t frameBytes) {
    if (processor == nullptr || processor->table == nullptr || processor->table->Process == nullptr)
        return length;
    void* data = buffer;
    auto claimed = static_cast<uint32_t>(std::min<std::size_t>(length, UINT32_MAX));
    if (processor->table->Process(processor, &data, &claimed) != 0 || data == nullptr) return length;
    std::size_t result = std::min<std::size_t>(claimed, capacity);
    if (frameBytes > 1) result -= result % frameBytes;
    if (data != buffer) std::memmove(buffer, data, result);
    return result;
}

}  // namespace tessura
