// The one error model of the readers, writers and loaders: each module names its problems in an
// enum class with a Describe function, returns a value or one code in a Result, and a validator
// returns every problem it finds as a list of Findings. Nothing here throws across a boundary.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace rt {

template <typename T, typename Code> class [[nodiscard]] Result {
  public:
    Result(T value) : v_(std::move(value)) {}
    Result(Code code) : v_(code) {}
    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }
    // The problem; only when !ok().
    Code error() const { return std::get<1>(v_); }
    T &value() { return std::get<0>(v_); }
    const T &value() const { return std::get<0>(v_); }
    T value_or(T fallback) const { return ok() ? value() : fallback; }
    T &operator*() { return value(); }
    T *operator->() { return &value(); }
    const T *operator->() const { return &value(); }

  private:
    std::variant<T, Code> v_;
};

// One problem a validator found: its code and where it lies ("unit 0x16010007", "segment code").
template <typename Code> struct [[nodiscard]] Finding {
    Code code;
    std::string where;
    bool operator==(const Finding &) const = default;
};

// "where: description"; Describe(Code) is the module's own.
template <typename Code> std::string DescribeFinding(const Finding<Code> &f) {
    return (f.where.empty() ? std::string() : f.where + ": ") + std::string(Describe(f.code));
}

// The heading, then "\n  where: description" for each finding.
template <typename Code>
std::string DescribeFindings(std::string_view heading, const std::vector<Finding<Code>> &findings) {
    std::string out(heading);
    for (const Finding<Code> &f : findings) out += "\n  " + DescribeFinding(f);
    return out;
}

// The codes of a list of findings, for tests and callers that decide by kind.
template <typename Code> std::vector<Code> Codes(const std::vector<Finding<Code>> &findings) {
    std::vector<Code> codes;
    for (const Finding<Code> &f : findings) codes.push_back(f.code);
    return codes;
}

} // namespace rt
