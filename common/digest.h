#ifndef DIGEST_H
#define DIGEST_H

#include <cstddef>
#include <cstdint>

// The size and CRC-32 of a run of bytes, the checksum of zlib, gzip and PNG
// (Python: zlib.crc32), so that a reader can tell whether a file holds the
// bytes a record says it does. Bytes may be added in pieces; the result is
// that of the whole.
class Digest {
 public:
  Digest() = default;
  // A digest that goes on from bytes already counted.
  Digest(std::uint64_t bytes, std::uint32_t crc32) : bytes_(bytes), crc_(~crc32) {}

  void add(const char* data, std::size_t size);

  std::uint64_t bytes() const { return bytes_; }
  std::uint32_t crc32() const { return ~crc_; }
  bool operator==(const Digest& other) const {
    return bytes_ == other.bytes_ && crc_ == other.crc_;
  }
  bool operator!=(const Digest& other) const { return !(*this == other); }

  // The digest of the first `bytes` bytes of a file; false when the file
  // cannot be read or is shorter.
  static bool ofFile(const char* path, std::uint64_t bytes, Digest& digest);

 private:
  std::uint64_t bytes_ = 0;
  std::uint32_t crc_ = 0xffffffffu;  // the register, inverted
};

#endif
