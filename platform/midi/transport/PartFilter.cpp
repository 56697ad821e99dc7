#include "platform/midi/transport/PartFilter.h"

#include "platform/midi/output/Output.h"
#include "platform/midi/transport/ChaseState.h"

#include <algorithm>
#include <utility>

namespace sequora::midi {

namespace {

constexpr uint8_t kFullExpression = 127;
constexpr int64_t kUsPerSecond = 1'000'000;

} // namespace

PartFilter::PartFilter()
{
    forgetAll();
    m_expression.fill(kFullExpression);
}

void PartFilter::forgetAll()
{
    for (int part = 0; part < kMaxParts; ++part)
        forgetNotes(part);
}

void PartFilter::change(
    const ListenerSettings& next, const ChaseState& chase, bool playing, Block& out)
{
    if (playing) {
        for (uint8_t part = 0; part < kMaxParts; ++part) {
            const bool was = m_settings.heard(part);
            const bool now = next.heard(part);
            if (was && !now) {
                // At once, pedal or not; all notes off too, for a port's synth without the first.
                out.addPartShort(part, kControlChange, kCcAllSoundOff, 0);
                out.addPartShort(part, kControlChange, kCcAllNotesOff, 0);
            } else if (!was && now) {
                chase.emitPartNotes(part, out);
            }
        }
    }
    m_settings = next;
}

void PartFilter::apply(Block& block, uint32_t frames, int64_t rate)
{
    m_meter.advance(frames, rate);
    m_kept.clear();
    for (OutMessage& m : block.messages) {
        const int64_t ageUs
            = (int64_t(frames) - std::min<int64_t>(m.frame, frames)) * kUsPerSecond / rate;
        if (pass(m, block, ageUs, m_kept))
            m_kept.push_back(m);
    }
    std::swap(block.messages, m_kept);
}

bool PartFilter::strayIsHarmless(int part, uint8_t key) const
{
    const std::array<uint8_t, 128>& sent = m_sent[std::size_t(part)];
    return std::find(sent.begin(), sent.end(), key) == sent.end();
}

bool PartFilter::pass(
    OutMessage& m, const Block& block, int64_t ageUs, std::vector<OutMessage>& kept)
{
    switch (m.kind) {
    case OutMessage::Kind::Silence:
        forgetAll();
        m_meter.silenceAll(false);
        return true;
    case OutMessage::Kind::Release:
        forgetAll();
        m_meter.silenceAll(true);
        return true;
    case OutMessage::Kind::Reset:
        forgetAll();
        m_module.reset(SystemMode::None);
        m_expression.fill(kFullExpression);
        m_meter.reset();
        return true;
    case OutMessage::Kind::Restore:
        // A loop's jump back: the module starts over in its mode while released notes ring.
        m_module.reset(static_cast<SystemMode>(m.data1));
        m_expression.fill(kFullExpression);
        return true;
    case OutMessage::Kind::Fade:
        return true;
    case OutMessage::Kind::SysEx:
        // A mode reset sets every controller back, expression too.
        if (m_module.followSysex(block.sysexOf(m), m.port).has(ModuleChange::Everything))
            m_expression.fill(kFullExpression);
        return true;
    case OutMessage::Kind::Short:
        break;
    }

    const uint8_t part = partOf(m.status, m.port);
    const uint8_t key = m.data1 & 0x7F;
    std::array<uint8_t, 128>& sent = m_sent[part];
    switch (commandOf(m.status)) {
    case kNoteOn:
        if (m.data2 != 0) {
            m_meter.use(part);
            if (!m_settings.heard(part))
                return false;
            const int shifted = m_module.parts().isDrum(part) ? key : key + m_settings.transpose;
            if (shifted < 0 || shifted > 127)
                return false; // moved off the keyboard, as on a module
            if (sent[key] != kNone && sent[key] != shifted) {
                // Struck again in another key: the note it sounded ends first.
                OutMessage off = m;
                off.status = static_cast<uint8_t>(kNoteOff | (part & 0x0F));
                off.data1 = sent[key];
                off.data2 = 0;
                kept.push_back(off);
                m_meter.noteOff(part, sent[key]);
            }
            sent[key] = static_cast<uint8_t>(shifted);
            m.data1 = static_cast<uint8_t>(shifted);
            m_meter.noteOn(
                part, shifted, m.data2, m_module.part(part).volume, m_expression[part], ageUs);
            return true;
        }
        [[fallthrough]];
    case kNoteOff:
        // One that ends nothing sounded (its note-on held back, or a second note-off)
        // goes out as written, unless another key now sounds that note.
        if (sent[key] == kNone)
            return strayIsHarmless(part, key);
        m.data1 = sent[key];
        m_meter.noteOff(part, sent[key]);
        sent[key] = kNone;
        return true;
    case kPolyPressure:
        if (sent[key] == kNone)
            return strayIsHarmless(part, key);
        m.data1 = sent[key];
        return true;
    case kProgramChange:
        m_module.followShort(m.status, m.data1, m.data2, m.port);
        m_meter.use(part);
        return true;
    case kControlChange:
        break;
    default:
        return true;
    }

    m_module.followShort(m.status, m.data1, m.data2, m.port);
    switch (m.data1) {
    case kCcExpression:
        m_expression[part] = m.data2 & 0x7F;
        break;
    case kCcSustain:
        m_meter.pedal(part, m.data2 >= kCentre7);
        break;
    case kCcResetAllControllers:
        m_expression[part] = kFullExpression;
        m_meter.pedal(part, false);
        break;
    case kCcAllSoundOff:
        forgetNotes(part);
        m_meter.silence(part);
        break;
    default:
        if (m.data1 >= kCcAllNotesOff) {
            forgetNotes(part);
            m_meter.notesOff(part);
        }
        break;
    }
    return true;
}

void PartFilter::fill(PartsView& view) const
{
    view.transpose = static_cast<int8_t>(m_settings.transpose);
    view.tempoPercent = static_cast<uint16_t>(m_settings.tempoPercent);
    for (int i = 0; i < view.partCount && i < PartsView::kMaxParts; ++i) {
        PartView& v = view.parts[std::size_t(i)];
        v = PartView {};
        {
            const PresetRequest request = m_module.parts().request(uint8_t(i));
            v.bank = request.bank;
            v.program = request.program;
            if (request.drum)
                v.flags |= PartView::Drum;
        }
        if (m_settings.muted[std::size_t(i)])
            v.flags |= PartView::Muted;
        if (m_settings.soloed[std::size_t(i)])
            v.flags |= PartView::Soloed;
        if (!m_settings.heard(i))
            v.flags |= PartView::Silenced;
    }
    m_meter.fill(view);
}

} // namespace sequora::midi
