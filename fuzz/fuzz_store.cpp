// The store reader over arbitrary bytes: the header, every record, the scan
// that fills the process list, and a record's way back into the file.
#include "model/ProcessStore.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const StoreFile file(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    const int32_t count = file.RecordCount();
    if (count < 0 || (count > 0 && qint64(count) * kRecordSize + kHeaderSize > qint64(size)))
        std::abort();
    for (int32_t i = 0; i < count; ++i) {
        (void)file.NameAt(i);
        ProcessRecord record;
        if (!ReadProcessRecord(record, file, i)) std::abort();
        QString problem;
        // What can be stored must read back the same.
        if (const auto bytes = EncodeRecord(record, &problem)) {
            const ProcessRecord again = DecodeRecord(*bytes);
            if (TrimFixed(again.Name) != TrimFixed(record.Name) || again.FitMode != record.FitMode)
                std::abort();
        }
    }
    ProcessRecord untouched;
    if (ReadProcessRecord(untouched, file, count) || !(untouched == ProcessRecord{})) std::abort();
    return 0;
}
