// The key's text written from the groups encryption hands on.
#pragma once

#include "cpupath.h"
#include "maskbatch.h"

#include <cstddef>
#include <span>
#include <string>

namespace morvalen {

// Appends each group to out as text; the caller may take text out of out between batches.
class KeyWriter final : public MaskGroupSink
{
public:
    enum class Start
    {
        AtEnd,
        // Over out from its start, taking the text already there as room to write into, as a
        // string kept from one key to the next holds: no byte of it is cleared first. out is the
        // key only after finish().
        Over,
    };

    // path: which room's code writes the text (see cpupath.h); every path gives the same.
    explicit KeyWriter(std::string& out, Start start = Start::AtEnd, CpuPath path = CpuPath::Fastest);

    void groups(const MaskBatch& batch) override;
    // Groups of exactly 13 masks, made whole (see grouptext.h).
    void usualGroups(std::span<const PackedGroup> groups);
    // Any group, written mask by mask: the plain path.
    void group(MaskGroup masks);
    // Cuts out to the text written, when it was written over.
    void finish();

private:
    std::string& m_out;
    char* (*m_writeGroups)(const MaskBatch& batch, char* out);
    bool m_over;
    std::size_t m_end = 0; // of the text written over out
};

} // namespace morvalen
