// Where a sample parser reads its file: whole in memory (tests, fuzzers), or
// piece by piece from disk, so that a patch's unused waves are never read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace vokra {

struct DataBlock;

class ByteSource {
public:
  virtual ~ByteSource() = default;
  // The file's size in bytes.
  virtual size_t Size() const = 0;
  // n bytes at nOffset (nOffset + n <= Size()) followed by nZeros zero
  // bytes, valid until the next call; null when they cannot be had.
  virtual const uint8_t *Read(size_t nOffset, size_t n, size_t nZeros) = 0;
  // Up to n bytes at nOffset straight into p; how many there were (fewer at
  // the end of the file, 0 from its end on).
  virtual size_t CopyTo(uint8_t *p, size_t nOffset, size_t n) = 0;
  // The bytes from nOffset to the end of the file as a read-only data block
  // mapped from the file, so that only the pages a song plays become
  // resident; null when the source cannot map them (the caller then copies).
  virtual DataBlock *MapTail(size_t /*nOffset*/) { return nullptr; }
};

// Bytes already in memory: read where they lie, copied only when zeros must
// follow them.
class MemorySource final : public ByteSource {
public:
  MemorySource(const uint8_t *pBytes, size_t nSize) : m_pBytes(pBytes), m_nSize(nSize) {}
  size_t Size() const override { return m_nSize; }
  const uint8_t *Read(size_t nOffset, size_t n, size_t nZeros) override {
    if (nZeros == 0)
      return m_pBytes + nOffset;
    m_copy.reset(new (std::nothrow) uint8_t[n + nZeros]);
    if (!m_copy)
      return nullptr;
    std::memcpy(m_copy.get(), m_pBytes + nOffset, n);
    std::memset(m_copy.get() + n, 0, nZeros);
    return m_copy.get();
  }

  size_t CopyTo(uint8_t *p, size_t nOffset, size_t n) override {
    if (nOffset >= m_nSize)
      return 0;
    const size_t nHave = m_nSize - nOffset < n ? m_nSize - nOffset : n;
    std::memcpy(p, m_pBytes + nOffset, nHave);
    return nHave;
  }

private:
  const uint8_t *m_pBytes;
  size_t m_nSize;
  std::unique_ptr<uint8_t[]> m_copy;
};

} // namespace vokra
