// Display-library transfers of random lengths, sub-addresses and call outcomes: every record handed to the
// library must name exactly the bytes the message holds (the two sub-address bytes, high first, then the
// data; a read's buffer is the caller's), and a version is only ever built from bytes that were read. The
// sanitizers catch any access outside the buffers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ExternalDeviceLayer/AdlI2c.h"
#include "ExternalDeviceLayer/I2cSettings.h"
#include "update/QSeries.h"

namespace {

// A library whose calls fail or pass as the input says, and which checks each record it is handed.
class CheckingLibrary : public CAdlI2cCall {
public:
    CheckingLibrary(const uint8_t* outcomes, size_t count) : outcomes_(outcomes, outcomes + count) {}

    const unsigned char* expectedWrite = nullptr;
    uint32_t expectedCount = 0;
    uint16_t expectedSubAddress = 0;
    unsigned char* expectedReadBuffer = nullptr;
    int calls = 0;

    int32_t Display_WriteAndReadI2CLargePayload(int32_t, ADLI2CLargePayload* record) override {
        ++calls;
        if (record->iSize != static_cast<int32_t>(sizeof(ADLI2CLargePayload)) || record->iLine != 4 ||
            record->iOffset != 0 || record->iFlags != 0 || record->pBuffer == nullptr)
            std::abort();
        const auto* bytes = reinterpret_cast<const unsigned char*>(record->pBuffer);
        if (record->iAction == kAdlI2cActionWrite) {
            if (record->iDataSize < 2 || bytes[0] != (expectedSubAddress >> 8) ||
                bytes[1] != (expectedSubAddress & 0xFF))
                std::abort();
            const auto data = static_cast<uint32_t>(record->iDataSize - 2);
            if (data != 0 && (data != expectedCount || std::memcmp(bytes + 2, expectedWrite, data) != 0))
                std::abort();
        } else if (record->iAction == kAdlI2cActionRead) {
            if (record->pBuffer != reinterpret_cast<char*>(expectedReadBuffer) ||
                static_cast<uint32_t>(record->iDataSize) != expectedCount)
                std::abort();
            for (int32_t i = 0; i < record->iDataSize; ++i)
                record->pBuffer[i] = static_cast<char>(i * 7 + 1);
        } else {
            std::abort();
        }
        const bool pass = next_ < outcomes_.size() ? (outcomes_[next_++] & 1) != 0 : true;
        return pass ? kAdlOk : -1;
    }

private:
    std::vector<uint8_t> outcomes_;
    size_t next_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5)
        return 0;
    const uint16_t subAddress = static_cast<uint16_t>(data[0] << 8 | data[1]);
    const uint32_t retries = data[2] % 4;
    const uint32_t count = data[3] % 200;
    const bool read = (data[4] & 1) != 0;
    data += 5;
    size -= 5;
    const size_t payload = count < size ? count : size;
    std::vector<unsigned char> bytes(data, data + payload);
    bytes.resize(count);
    I2cSettings().retryCount.store(retries);
    CheckingLibrary library(data + payload, size - payload);
    library.expectedSubAddress = subAddress;
    library.expectedCount = count;
    int logged = 0;
    const tagAdlI2cHooks hooks{[&logged](const wchar_t*) { ++logged; }, [] {}};
    // An exact-size copy, so that a read past the end is caught.
    std::vector<unsigned char> buffer(bytes);
    int result = 0;
    if (read) {
        library.expectedReadBuffer = count ? buffer.data() : nullptr;
        result = I2cAdlRead(library, hooks, 0, 0xD0, subAddress, count ? buffer.data() : nullptr, count);
    } else {
        library.expectedWrite = bytes.data();
        result = I2cAdlWrite(library, hooks, 0, 0xD0, subAddress, count ? buffer.data() : nullptr, count);
    }
    // Nothing goes out for no bytes; every failed call but the last is followed by one log line.
    if (count == 0 && (result != 0 || library.calls != 0))
        std::abort();
    if (logged > library.calls)
        std::abort();
    // A version built from three read bytes holds nothing but those numbers.
    if (read && result == 1 && count >= 3) {
        const FpgaVersion version = MakeFpgaVersion(buffer[2], buffer[1], buffer[0]);
        if (version.text.empty() || version.text.size() > 11 ||
            version.allowsFlashImage != CQSeries::VersionAllowsFlashImage(buffer[2], buffer[1], buffer[0]))
            std::abort();
    }
    I2cSettings().retryCount.store(0);
    return 0;
}
