#include "digest.h"

#include <array>
#include <fstream>
#include <vector>

namespace {

// The reflected polynomial of CRC-32, a byte at a time.
std::array<std::uint32_t, 256> makeTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xedb88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}

const std::array<std::uint32_t, 256>& table() {
  static const std::array<std::uint32_t, 256> t = makeTable();
  return t;
}

}  // namespace

void Digest::add(const char* data, std::size_t size) {
  const std::array<std::uint32_t, 256>& t = table();
  std::uint32_t c = crc_;
  for (std::size_t i = 0; i < size; ++i) {
    c = t[(c ^ static_cast<unsigned char>(data[i])) & 0xffu] ^ (c >> 8);
  }
  crc_ = c;
  bytes_ += size;
}

bool Digest::ofFile(const char* path, std::uint64_t bytes, Digest& digest) {
  std::ifstream is(path, std::ios::binary);
  if (!is.is_open()) return false;
  digest = Digest();
  std::vector<char> buffer(1 << 16);
  while (digest.bytes() < bytes) {
    const std::uint64_t left = bytes - digest.bytes();
    const std::size_t want = left < buffer.size() ? static_cast<std::size_t>(left) : buffer.size();
    is.read(buffer.data(), static_cast<std::streamsize>(want));
    const std::size_t got = static_cast<std::size_t>(is.gcount());
    digest.add(buffer.data(), got);
    if (got < want) return false;
  }
  return true;
}
