// The workpiece extent of one axis: the number 0 until the first word of that axis, then the
// 8 characters after the letter of the largest word cell seen.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace gcode {

// True when extent text a ranks above b. Two texts that both read as numbers compare by
// value, so 12000 ranks above 9000 and -3 above -5 although their texts sort the other way;
// any other pair compares by character code.
bool ExtentTextGreater(std::string_view a, std::string_view b);

class Extent {
public:
    // Still the number 0: no word of this axis yet.
    bool IsNumberZero() const { return !hasText_; }
    const std::string& Text() const { return text_; }
    // What the extent label shows: the text as it stands, or "0".
    std::string Shown() const { return hasText_ ? text_ : std::string("0"); }
    // The value of the text when it reads as a number; 0 while it is still the number 0.
    std::optional<double> Number() const;

    // Takes a word's 8-character text when this is the first word or the text ranks higher.
    void Offer(std::string_view candidate);
    // Faster form for a candidate whose text reads as the number `value`.
    void OfferNumber(std::string_view candidate, double value);
    // The candidate of a word whose formatted text is the number `thousandths` / 1000.
    void OfferThousandths(std::int32_t thousandths);

    // True when this extent ranks above the other one; the number 0 ranks below any text.
    bool Greater(const Extent& other) const;

    void Reset() { *this = Extent(); }

private:
    std::string text_;
    bool hasText_ = false;
    bool textIsNumber_ = false;
    double number_ = 0;
};

} // namespace gcode
