// The online check's reading of received ICMP datagrams: any bytes, no fault.
#include <cstddef>
#include <cstdint>

#include "crashreport/delivery/MailClient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const uint16_t id = uint16_t(data[0] << 8 | data[1]), sequence = uint16_t(data[2] << 8 | data[3]);
    ReadEchoReply(data + 4, size - 4, id, sequence);
    return 0;
}
