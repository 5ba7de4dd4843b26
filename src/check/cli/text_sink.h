// Where ClearonCheck's messages for standard error go. The console program
// writes each one through as it comes: deploy's progress must stand in the
// log of a launcher that is killed mid-run, not wait in memory for an end
// that never comes. Tests and callers that want the text collect it.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace clearon::check {

class TextSink {
public:
    using Writer = std::function<void(std::wstring_view text)>;

    // Collects into `text`. Implicit, so a caller hands its string as is.
    TextSink(std::wstring& text) noexcept : text_(&text) {}  // NOLINT(google-explicit-constructor)
    // Hands every message to `writer` at once.
    explicit TextSink(Writer writer) noexcept : writer_(std::move(writer)) {}

    TextSink& operator+=(std::wstring_view text) {
        if (writer_)
            writer_(text);
        else
            text_->append(text);
        return *this;
    }

private:
    std::wstring* text_ = nullptr;
    Writer writer_;
};

}  // namespace clearon::check
