#include "keywriter.h"

#include "arch/kernels.h"
#include "grouptext.h"

#include <cstddef>
#include <string>

namespace morvalen {
namespace {

// Key text written straight into the key, which is grown first by the room the text can take,
// where it does not have that room already, and cut back to the text when done unless it is
// written over: no staging copy, and the string's memory is reused.
class KeyText
{
public:
    KeyText(std::string& out, std::size_t& end, std::size_t room, bool over)
        : m_out(out)
        , m_end(end)
        , m_over(over)
    {
        if (end + room + kGroupTextSlack > out.size()) {
            out.resize(end + room + kGroupTextSlack);
        }
    }
    KeyText(const KeyText&) = delete;
    KeyText& operator=(const KeyText&) = delete;
    ~KeyText()
    {
        if (!m_over) {
            m_out.resize(m_end);
        }
    }

    void groups(const MaskBatch& batch, char* (*write)(const MaskBatch&, char*))
    {
        m_end = static_cast<std::size_t>(write(batch, m_out.data() + m_end) - m_out.data());
    }

    void masks(MaskGroup masks)
    {
        m_end = static_cast<std::size_t>(writeMaskTexts(masks, m_out.data() + m_end) - m_out.data());
    }

    void close() { m_out[m_end++] = '|'; }

private:
    std::string& m_out;
    std::size_t& m_end;
    bool m_over;
};

} // namespace

KeyWriter::KeyWriter(std::string& out, Start start, CpuPath path)
    : m_out(out)
    , m_writeGroups(arch::kernels(path).writeGroups)
    , m_over(start == Start::Over)
{
}

void KeyWriter::groups(const MaskBatch& batch)
{
    if (!m_over) {
        m_end = m_out.size();
    }
    KeyText(m_out, m_end, batch.groups.size() * kUsualGroupChars + batch.extraMasks.size() * kMaskChars, m_over)
        .groups(batch, m_writeGroups);
}

void KeyWriter::usualGroups(std::span<const PackedGroup> groups)
{
    this->groups({groups, {}, {}});
}

void KeyWriter::group(MaskGroup masks)
{
    if (!m_over) {
        m_end = m_out.size();
    }
    KeyText text(m_out, m_end, masks.size() * kMaskChars + 1, m_over);
    text.masks(masks);
    text.close();
}

void KeyWriter::finish()
{
    if (m_over) {
        m_out.resize(m_end);
    }
}

} // namespace morvalen
