// Word-wise bit extraction with the same results, positions and errors as reading bit by bit.
#include "bitstream/bit_reader.hpp"

#include <cstring>

namespace tarnwel {

// The last bytes of the data, zero-filled to a whole word.
uint64_t BitReader::load_tail(uint64_t index) const {
  uint64_t word = 0;
  for (uint64_t i = 0; i < 8; ++i) word = (word << 8) | byte_at(index + i);
  return word;
}

BufrError BitReader::underrun_error(uint32_t width) const {
  return make_error<ErrorKind::BitsExhausted>(position_, width, capacity_);
}

BufrError BitReader::width_error(uint32_t width) {
  return make_error<ErrorKind::WidthTooWide>(width);
}

Status BitReader::read_bytes_into(uint32_t width, std::string& out) {
  const uint64_t whole = width / 8;
  const uint64_t available = remaining() / 8;
  const uint64_t taken = whole < available ? whole : available;
  const std::size_t start = out.size();
  out.resize(start + taken);
  char* dest = out.data() + start;
  const uint64_t index = position_ >> 3;
  const unsigned offset = position_ & 7;
  if (offset == 0) {
    if (taken != 0) std::memcpy(dest, data_.data() + index, taken);
  } else {
    for (uint64_t i = 0; i < taken; ++i) {
      const unsigned byte = (data_[index + i] << offset) | (byte_at(index + i + 1) >> (8 - offset));
      dest[i] = static_cast<char>(byte & 0xFF);
    }
  }
  position_ += taken * 8;
  if (taken < whole) {
    out.resize(start);
    return underrun_error(8);
  }
  const uint32_t rest = width % 8;
  if (rest != 0) {
    auto bits = read_bits(rest);
    if (!bits.ok()) {
      out.resize(start);
      return std::move(bits).error();
    }
    out.push_back(static_cast<char>(*bits << (8 - rest)));
  }
  return Status::success();
}

Result<std::vector<uint8_t>> BitReader::read_bytes(uint32_t width) {
  std::string buffer;
  buffer.reserve((width + 7) / 8);
  TARNWEL_TRY(read_bytes_into(width, buffer));
  return std::vector<uint8_t>(buffer.begin(), buffer.end());
}

}  // namespace tarnwel
