#include "app/SequenceTexts.h"

#include "persist/Language.h"
#include "power/PowerRecords.h"
#include "sequence/Runner.h"
#include "sequence/Sequence.h"

namespace {

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts;
    size_t at = 0;
    while (true) {
        const size_t bar = text.find('|', at);
        parts.push_back(text.substr(at, bar == std::string::npos ? std::string::npos : bar - at));
        if (bar == std::string::npos) {
            return parts;
        }
        at = bar + 1;
    }
}

} // namespace

std::vector<std::string> SequenceTextParts(int item) {
    return Split(LanguageText(item));
}

SeqErrorTexts SequenceErrorTexts(bool english) {
    // Each item holds the reasons of a stretch of SeqReason, in its order.
    static const int kItems[] = {TEXT_SEQ_ERROR_LINE,        TEXT_SEQ_REASONS_FILE,
                                 TEXT_SEQ_REASONS_SHAPE,     TEXT_SEQ_REASONS_VALUE,
                                 TEXT_SEQ_REASONS_FREQUENCY, TEXT_SEQ_REASONS_RANGE};
    constexpr int kCount = sizeof kItems / sizeof kItems[0];
    std::string texts[kCount];
    LanguageTextsIn(english ? 1 : gPowerInfo.language, kItems, kCount, texts);
    SeqErrorTexts out;
    out.line = texts[0];
    int reason = 0;
    for (int i = 1; i < kCount; ++i) {
        for (const std::string& part : Split(texts[i])) {
            if (reason < SEQ_REASON_COUNT) {
                out.reasons[reason++] = part;
            }
        }
    }
    return out;
}

std::string SequenceCauseText(int cause) {
    std::vector<std::string> causes = SequenceTextParts(TEXT_SEQ_CAUSES_A);
    const std::vector<std::string> more = SequenceTextParts(TEXT_SEQ_CAUSES_B);
    causes.insert(causes.end(), more.begin(), more.end());
    const size_t i = static_cast<size_t>(cause - SEQ_CAUSE_COMPLETED);
    return cause >= SEQ_CAUSE_COMPLETED && i < causes.size() ? causes[i] : std::string();
}
