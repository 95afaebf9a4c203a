// The automation value: what script hosts pass to and get back from every
// member of the component, and the base of every object that can travel
// inside one.
#pragma once

#include <quillpost/error.hpp>

#include <concepts>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace quillpost {

class Variant;

// How a late-bound member is reached.
enum class CallKind { Method, PropertyGet, PropertyPut };

// An automation object. Every class of the component derives from it, and so
// does any object a host hands in (a page's scripting context, its request).
class Dispatch : public std::enable_shared_from_this<Dispatch> {
public:
    virtual ~Dispatch() = default;

    // The value of the default member, read without arguments. An object
    // without one raises 13 "Type mismatch".
    virtual Variant DefaultValue();

    // Calls the member `name` (found without regard to letter case) with
    // automation values. An unknown member raises 438.
    virtual Variant Invoke(std::string_view name, CallKind kind, std::span<const Variant> args);
};

// The kinds of value an automation variant holds.
enum class VarType : std::uint8_t {
    Empty,
    Null,
    Int16,
    Int32,
    Float32,
    Float64,
    Boolean,
    Date,
    Text,
    Object,
    ErrorCode,
};

class Variant {
public:
    // The status code of a parameter that the caller left out.
    static constexpr std::int32_t kMissingCode = static_cast<std::int32_t>(0x80020004u);

    Variant() noexcept = default;  // empty
    Variant(const char* text) : value_(std::string(text ? text : "")) {}
    Variant(std::string text) : value_(std::move(text)) {}
    Variant(std::string_view text) : value_(std::string(text)) {}
    Variant(bool value) : value_(value) {}
    Variant(std::int16_t value) : value_(value) {}
    Variant(std::int32_t value) : value_(value) {}
    // Other integer types become a 32-bit integer when they fit, otherwise
    // a 64-bit float.
    template <std::integral T>
        requires(!std::same_as<T, bool> && !std::same_as<T, std::int16_t> &&
                 !std::same_as<T, std::int32_t> && !std::same_as<T, char>)
    Variant(T value) {
        if (std::in_range<std::int32_t>(value))
            value_ = static_cast<std::int32_t>(value);
        else
            value_ = static_cast<double>(value);
    }
    Variant(float value) : value_(value) {}
    Variant(double value) : value_(value) {}
    Variant(std::shared_ptr<Dispatch> object) : value_(std::move(object)) {}
    template <std::derived_from<Dispatch> T>
    Variant(std::shared_ptr<T> object) : value_(std::shared_ptr<Dispatch>(std::move(object))) {}

    static Variant null() { return Variant(Tag<NullTag>{}); }
    // An automation date: days since 30 December 1899, the fraction being the
    // time of day.
    static Variant date(double days) { return Variant(Tag<DateValue>{}, DateValue{days}); }
    static Variant error(std::int32_t code) { return Variant(Tag<ErrorValue>{}, ErrorValue{code}); }
    // A parameter left out by the caller.
    static Variant missing() { return error(kMissingCode); }

    VarType type() const noexcept { return static_cast<VarType>(value_.index()); }
    bool is_empty() const noexcept { return type() == VarType::Empty; }
    bool is_null() const noexcept { return type() == VarType::Null; }
    bool is_text() const noexcept { return type() == VarType::Text; }
    bool is_object() const noexcept { return type() == VarType::Object; }
    bool is_missing() const noexcept;
    bool is_numeric() const noexcept;

    // The standard automation conversions.
    // Text: integers in decimal, floats in their shortest form, booleans as
    // "True"/"False", dates as "YYYY-MM-DD hh:mm:ss" (the date alone at
    // midnight, the time alone on 30 December 1899), empty as "", null
    // raises 94, an object converts through its default member (read once:
    // a default member that gives an object again raises 13).
    std::string ToText() const;
    double ToDouble() const;
    // An automation date: a date as it is; date and time text in the forms
    // the platform's conversion reads ("2024-03-01 10:00:00", "3/1/2024",
    // "March 1, 2024 10:00 PM", a time alone); anything else as a number.
    double ToDate() const;
    // Rounds halves to the even neighbour; outside 32 bits raises 6.
    std::int32_t ToInt32() const;
    bool ToBool() const;
    // The object held; anything else raises 424 "Object required".
    std::shared_ptr<Dispatch> ToObject() const;

    // Direct access; raise 13 when the variant holds another kind.
    const std::string& text() const;
    double date_value() const;
    std::int32_t error_code() const;

    // True for an empty text or the empty value: what the collections call
    // blank.
    bool is_blank() const noexcept;

private:
    struct NullTag {
        bool operator==(const NullTag&) const = default;
    };
    struct DateValue {
        double days;
    };
    struct ErrorValue {
        std::int32_t code;
    };
    template <class T>
    struct Tag {};
    explicit Variant(Tag<NullTag>) : value_(NullTag{}) {}
    Variant(Tag<DateValue>, DateValue d) : value_(d) {}
    Variant(Tag<ErrorValue>, ErrorValue e) : value_(e) {}

    // The order of the alternatives follows VarType.
    std::variant<std::monostate, NullTag, std::int16_t, std::int32_t, float, double, bool,
                 DateValue, std::string, std::shared_ptr<Dispatch>, ErrorValue>
        value_;
};

}  // namespace quillpost
