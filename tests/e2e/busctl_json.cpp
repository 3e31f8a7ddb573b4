#include "busctl_json.hpp"

#include <charconv>
#include <stdexcept>

namespace vuno::testing {

namespace {

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    Json Document() {
        Json value = Value();
        SkipBlanks();
        if (position_ != text_.size()) {
            Fail("trailing text");
        }
        return value;
    }

  private:
    [[noreturn]] void Fail(const std::string &what) const {
        throw std::runtime_error("JSON: " + what + " at offset " + std::to_string(position_));
    }

    void SkipBlanks() {
        while (position_ < text_.size() &&
               std::string_view(" \t\r\n").find(text_[position_]) != std::string_view::npos) {
            ++position_;
        }
    }

    char Peek() {
        SkipBlanks();
        if (position_ == text_.size()) {
            Fail("unexpected end");
        }
        return text_[position_];
    }

    void Expect(char wanted) {
        if (Peek() != wanted) {
            Fail(std::string("expected '") + wanted + "'");
        }
        ++position_;
    }

    bool Take(std::string_view word) {
        if (text_.substr(position_, word.size()) != word) {
            return false;
        }
        position_ += word.size();
        return true;
    }

    Json Value() {
        const char first = Peek();
        if (first == '{') {
            return Object();
        }
        if (first == '[') {
            return Array();
        }
        Json value;
        if (first == '"') {
            value.kind = Json::Kind::String;
            value.text = String();
        } else if (Take("true")) {
            value.kind = Json::Kind::Boolean;
            value.boolean = true;
        } else if (Take("false")) {
            value.kind = Json::Kind::Boolean;
        } else if (Take("null")) {
            value.kind = Json::Kind::Null;
        } else {
            value.kind = Json::Kind::Number;
            value.text = Number();
        }
        return value;
    }

    Json Object() {
        Json value;
        value.kind = Json::Kind::Object;
        Expect('{');
        if (Peek() == '}') {
            ++position_;
            return value;
        }
        while (true) {
            Peek();
            std::string key = String();
            Expect(':');
            value.members.emplace_back(std::move(key), Value());
            if (Peek() != ',') {
                break;
            }
            ++position_;
        }
        Expect('}');
        return value;
    }

    Json Array() {
        Json value;
        value.kind = Json::Kind::Array;
        Expect('[');
        if (Peek() == ']') {
            ++position_;
            return value;
        }
        while (true) {
            value.items.push_back(Value());
            if (Peek() != ',') {
                break;
            }
            ++position_;
        }
        Expect(']');
        return value;
    }

    std::string Number() {
        const size_t start = position_;
        while (position_ < text_.size() &&
               std::string_view("+-.0123456789eE").find(text_[position_]) !=
                   std::string_view::npos) {
            ++position_;
        }
        if (position_ == start) {
            Fail("not a value");
        }
        return std::string(text_.substr(start, position_ - start));
    }

    uint32_t HexQuad() {
        uint32_t value = 0;
        const auto digits = text_.substr(position_, 4);
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
        if (digits.size() != 4 || error != std::errc() || end != digits.data() + 4) {
            Fail("bad \\u escape");
        }
        position_ += 4;
        return value;
    }

    static void AppendUtf8(std::string &out, uint32_t code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | code >> 6);
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | code >> 12);
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | code >> 18);
            out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    uint32_t UnicodeEscape() {
        uint32_t code = HexQuad();
        if (code >= 0xD800 && code < 0xDC00) {
            if (!Take("\\u")) {
                Fail("lone surrogate");
            }
            const uint32_t low = HexQuad();
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        return code;
    }

    std::string String() {
        if (position_ >= text_.size() || text_[position_] != '"') {
            Fail("expected a string");
        }
        ++position_;
        std::string out;
        while (position_ < text_.size() && text_[position_] != '"') {
            const char c = text_[position_++];
            if (c != '\\') {
                out += c;
                continue;
            }
            if (position_ == text_.size()) {
                break;
            }
            const char escaped = text_[position_++];
            switch (escaped) {
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u':
                AppendUtf8(out, UnicodeEscape());
                break;
            default:
                out += escaped;
                break;
            }
        }
        Expect('"');
        return out;
    }

    std::string_view text_;
    size_t position_ = 0;
};

} // namespace

bool Json::Has(const std::string &key) const {
    for (const auto &member : members) {
        if (member.first == key) {
            return true;
        }
    }
    return false;
}

const Json &Json::At(const std::string &key) const {
    for (const auto &member : members) {
        if (member.first == key) {
            return member.second;
        }
    }
    throw std::out_of_range("no member " + key);
}

uint64_t Json::Unsigned() const {
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (kind != Kind::Number || error != std::errc() || end != text.data() + text.size()) {
        throw std::runtime_error("not an unsigned number: " + text);
    }
    return value;
}

std::vector<std::string> Json::Keys() const {
    std::vector<std::string> keys;
    for (const auto &member : members) {
        keys.push_back(member.first);
    }
    return keys;
}

Json ParseJson(std::string_view text) {
    return Parser(text).Document();
}

} // namespace vuno::testing
