// Feeds arbitrary bytes to the PE reader as if they were an executable. The reader may
// refuse them only with a PeError; whatever it takes must survive a rewrite of its
// resources: the result reads back as a sound image with the same resources, and what
// either read unfolded stays within its file's size. The same bytes go to the icon
// reader, whose images may never hold more bytes than the file.
#include "pe/IconResource.h"
#include "pe/PeImage.h"
#include "pe/PeWriter.h"
#include "pe/ResourceTree.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

void ReadAsIcon(const uint8_t* data, size_t size)
{
    try {
        std::vector<IconImage> images = ReadIconFile(std::vector<uint8_t>(data, data + size));
        size_t total = 0;
        for (const IconImage& image : images)
            total += image.bytes.size();
        Require(total <= size);
    } catch (const PeError&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ReadAsIcon(data, size);
    std::vector<uint8_t> rewrittenBytes;
    ResourceTree tree;
    try {
        PeImage image(std::vector<uint8_t>(data, data + size));
        uint64_t unfolded = 0;
        tree = ReadResources(image, &unfolded);
        Require(unfolded <= size);
        if (image.HasCertificate())
            image = PeImage(WithoutCertificate(image));
        rewrittenBytes = WithResources(image, tree);
    } catch (const PeError&) {
        return 0;
    }
    // What the writer made must read back whole, whatever it was made from.
    try {
        PeImage rewritten(rewrittenBytes);
        uint64_t unfolded = 0;
        ResourceTree again = ReadResources(rewritten, &unfolded);
        Require(unfolded <= rewrittenBytes.size());
        Require(again.Count() == tree.Count());
        for (const auto& type : tree.Types())
            for (const auto& name : type.second)
                for (const auto& language : name.second) {
                    const ResourceData* found = again.Find(type.first, name.first, language.first);
                    Require(found != nullptr && found->bytes == language.second.bytes);
                }
    } catch (const PeError&) {
        std::abort();
    }
    return 0;
}
