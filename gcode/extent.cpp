#include "gcode/extent.h"

#include "encoding/number_text.h"
#include "gcode/program.h"

namespace gcode {

bool ExtentTextGreater(std::string_view a, std::string_view b) {
    const auto na = encoding::NumberOf(a);
    const auto nb = encoding::NumberOf(b);
    if (na && nb) {
        return *na > *nb;
    }
    return a.compare(b) > 0; // char_traits<char> compares as unsigned bytes
}

std::optional<double> Extent::Number() const {
    if (!hasText_) {
        return 0.0;
    }
    if (textIsNumber_) {
        return number_;
    }
    return std::nullopt;
}

void Extent::Offer(std::string_view candidate) {
    const auto n = encoding::NumberOf(candidate);
    if (n) {
        OfferNumber(candidate, *n);
        return;
    }
    if (!hasText_ || candidate.compare(text_) > 0) {
        text_.assign(candidate);
        hasText_ = true;
        textIsNumber_ = false;
    }
}

void Extent::OfferNumber(std::string_view candidate, double value) {
    bool take = !hasText_;
    if (!take) {
        take = textIsNumber_ ? value > number_ : candidate.compare(text_) > 0;
    }
    if (take) {
        text_.assign(candidate);
        hasText_ = true;
        textIsNumber_ = true;
        number_ = value;
    }
}

void Extent::OfferThousandths(std::int32_t thousandths) {
    // Most words cannot win: the 8 characters of a positive text never exceed its value, and a
    // negative text never exceeds zero. Only the others pay for writing the text.
    if (hasText_ && textIsNumber_) {
        const double full = thousandths / 1000.0;
        if (thousandths >= 0 ? full <= number_ : number_ >= 0) {
            return;
        }
    }
    char text[16];
    const std::size_t len = WriteThousandths(thousandths, text);
    const std::string_view candidate(text, len < 8 ? len : 8);
    const auto value = encoding::NumberOf(candidate);
    if (value) {
        OfferNumber(candidate, *value);
    } else {
        Offer(candidate);
    }
}

bool Extent::Greater(const Extent& other) const {
    if (!hasText_) {
        return false;
    }
    if (!other.hasText_) {
        return true;
    }
    if (textIsNumber_ && other.textIsNumber_) {
        return number_ > other.number_;
    }
    return text_.compare(other.text_) > 0;
}

} // namespace gcode
