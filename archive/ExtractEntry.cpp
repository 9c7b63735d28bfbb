#include "archive/ExtractEntry.h"

#include "stream/WtFileStream.h"
#include "stream/WtInflate.h"
#include "stream/WtMemoryReader.h"

#include <cstring>

namespace {

const int kPathBufferSize = kExtractPathMaxLength + 1;
const std::uint32_t kOutputMode = WtFileStream::OpenCreate | WtFileStream::AccessWrite;
const std::uint32_t kNoLimit = 0;

// Deletes one object of the extraction when it goes out of scope, so an exception
// releases it too. Declared in creation order, the owners delete in reverse: codec,
// file stream, memory reader.
template <class T>
class Owned
{
public:
    explicit Owned(T* object) : object(object) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    // Lets a failed close of the file (code 8) out, as deleting the stream by hand would.
    ~Owned() noexcept(false) { delete object; }

    T& operator*() const { return *object; }
    T* operator->() const { return object; }

private:
    T* object;
};

} // namespace

ExtractionResult ExtractEntry(const unsigned char* data, std::uint32_t compressedSize,
                              const char* outputPath, CreatedDirectoryList* list)
{
    // Guards the path buffers: a longer path fails like a file that cannot be opened,
    // before any folder is made.
    if (std::strlen(outputPath) > static_cast<std::size_t>(kExtractPathMaxLength))
        throw new WtStreamException(WtStreamException::OpenFailed, outputPath);

    char filePath[kPathBufferSize];
    char folderPath[kPathBufferSize];
    std::strcpy(filePath, outputPath);
    std::strcpy(folderPath, filePath);
    if (char* lastSeparator = std::strrchr(folderPath, '\\')) {
        *lastSeparator = '\0';
        // A folder that could not be made shows when the file cannot be opened.
        MakeDirectoryPath(folderPath, list);
    }

    Owned<WtMemoryReader> source(new WtMemoryReader(data, compressedSize));
    Owned<WtFileStream> file(new WtFileStream(filePath, kOutputMode));
    Owned<WtInflateCodec> codec(new WtInflateCodec);

    WtWriter& sink = *file;
    ExtractionResult result;
    result.bytesWritten = codec->Decode(sink, *source, kNoLimit);
    // An entry without compressed bytes is an empty file, not a cut-off stream.
    result.complete = compressedSize == 0 || codec->EndedCleanly();
    return result;
}
