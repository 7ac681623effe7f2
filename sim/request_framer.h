// Finds the tool's request frames in the byte stream a device receives.
//
// Requests carry no length field: the device knows the length from the code.
//   read / action   > BE 4E AA            3 bytes
//   one-byte write  > BE 61 0A AA         4 bytes  (write code = read code - 1)
//   one-word write  > BE 4D 01 09 AA      5 bytes
//                     0  1  2  3  4
// Anything else (the wake-up zeros, line noise, unknown codes, a frame whose
// end byte is not where its code puts it) is skipped byte by byte until the
// next start byte that begins a well-formed frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zorvane::sim {

// Frame length of a request with this code: 3 for read and action codes, 4 or
// 5 for write codes; 0 when the device does not know the code.
int request_length(uint8_t code);

// For a write code: the read code whose value it sets; 0 otherwise.
uint8_t written_read_code(uint8_t write_code);

class RequestFramer {
  public:
    // Appends received bytes and returns the frames they complete, in order.
    std::vector<std::vector<uint8_t>> feed(std::span<const uint8_t> bytes);

    // Forgets a frame begun but not finished (its bytes count as skipped).
    void drop_partial();

    size_t skipped_bytes() const { return m_skipped; }
    size_t pending_bytes() const { return m_pending.size(); }

  private:
    std::vector<uint8_t> m_pending;
    size_t m_skipped = 0;
};

}  // namespace zorvane::sim
