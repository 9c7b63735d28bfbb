// Feeds arbitrary bytes to the PE reader as if they were an executable. The reader may
// refuse them only with a PeError; whatever it takes must survive a rewrite of its
// resources: the result reads back as a sound image with the same resources.
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> rewrittenBytes;
    ResourceTree tree;
    try {
        PeImage image(std::vector<uint8_t>(data, data + size));
        tree = ReadResources(image);
        if (image.HasCertificate())
            image = PeImage(WithoutCertificate(image));
        rewrittenBytes = WithResources(image, tree);
    } catch (const PeError&) {
        return 0;
    }
    // What the writer made must read back whole, whatever it was made from.
    try {
        PeImage rewritten(rewrittenBytes);
        ResourceTree again = ReadResources(rewritten);
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
