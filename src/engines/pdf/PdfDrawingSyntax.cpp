#include "engines/pdf/PdfDrawingSyntax.h"

#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/QPDFTokenizer.hh>

#include <array>
#include <cctype>
#include <memory>
#include <optional>
#include <set>
#include <string_view>

namespace qv {

namespace {

// qpdf's parser gives up on structures nested deeper than this.
constexpr size_t deepestNesting = 500;

// An array or dictionary being read: for a dictionary, its items in order, each the name it
// holds or nothing for a value of another kind.
struct Frame {
    bool dictionary = false;
    std::vector<std::optional<std::string>> items;
};

class Reader {
public:
    Reader(const std::string& drawing, const std::string& description)
        : m_buffer(reinterpret_cast<unsigned char*>(const_cast<char*>(drawing.data())), drawing.size())
        , m_input(std::make_shared<BufferInputSource>(description, &m_buffer))
    {
        m_tokenizer.allowEOF();
    }

    std::vector<QPDFExc> read()
    {
        while (!m_damaged) {
            const QPDFTokenizer::Token token = m_tokenizer.readToken(m_input, "content", true);
            if (token.getType() == QPDFTokenizer::tt_eof) {
                if (!m_stack.empty())
                    damage("parse error while reading object");
                break;
            }
            if (!token.getErrorMessage().empty()) {
                damage(token.getErrorMessage());
                break;
            }
            take(token);
        }
        return std::move(m_warnings);
    }

private:
    void take(const QPDFTokenizer::Token& token)
    {
        switch (token.getType()) {
        case QPDFTokenizer::tt_bad:
            damage(token.getErrorMessage());
            return;
        case QPDFTokenizer::tt_brace_open:
        case QPDFTokenizer::tt_brace_close:
            damage("treating unexpected brace token as null");
            return;
        case QPDFTokenizer::tt_array_close:
            if (m_stack.empty() || m_stack.back().dictionary)
                damage("treating unexpected array close token as null");
            else
                close();
            return;
        case QPDFTokenizer::tt_dict_close:
            if (m_stack.empty() || !m_stack.back().dictionary)
                damage("unexpected dictionary close token");
            else
                closeDictionary();
            return;
        case QPDFTokenizer::tt_array_open:
        case QPDFTokenizer::tt_dict_open:
            if (m_stack.size() >= deepestNesting) {
                damage("ignoring excessively deeply nested data structure");
                return;
            }
            m_stack.push_back({token.getType() == QPDFTokenizer::tt_dict_open, {}});
            return;
        case QPDFTokenizer::tt_name:
            add(token.getValue());
            return;
        case QPDFTokenizer::tt_word:
            // An inline picture's data follows its ID operator, when that stands on its own.
            if (m_stack.empty() && token.getValue() == "ID")
                skipInlinePicture();
            else
                add(std::nullopt);
            return;
        default:
            add(std::nullopt);
            return;
        }
    }

    void add(std::optional<std::string> name)
    {
        if (!m_stack.empty() && m_stack.back().dictionary)
            m_stack.back().items.push_back(std::move(name));
    }

    void close()
    {
        m_stack.pop_back();
        add(std::nullopt);
    }

    // Keys and values alternate; a key that is no name, a key given twice or a key without a
    // value is what qpdf warns of, in that order for each pair.
    void closeDictionary()
    {
        const std::vector<std::optional<std::string>>& items = m_stack.back().items;
        std::set<std::string> keys;
        for (size_t k = 0; k < items.size(); k += 2) {
            if (!items[k]) {
                damage("expected dictionary key but found non-name object; inserting key " + fakeKey(items));
                return;
            }
            if (!keys.insert(*items[k]).second)
                warn("dictionary has duplicated key " + *items[k] + "; last occurrence overrides earlier ones");
            if (k + 1 >= items.size()) {
                damage("dictionary ended prematurely; using null as value for last key");
                return;
            }
        }
        close();
    }

    static std::string fakeKey(const std::vector<std::optional<std::string>>& items)
    {
        std::set<std::string> names;
        for (const std::optional<std::string>& item : items) {
            if (item)
                names.insert(*item);
        }
        for (int next = 1;; ++next) {
            std::string key = "/QPDFFake" + std::to_string(next);
            if (!names.contains(key))
                return key;
        }
    }

    void skipInlinePicture()
    {
        // The character that ended the operator belongs to neither.
        char ch = 0;
        m_input->read(&ch, 1);
        m_tokenizer.expectInlineImage(m_input);
        const QPDFTokenizer::Token picture = m_tokenizer.readToken(m_input, m_input->getName(), true);
        if (picture.getType() == QPDFTokenizer::tt_bad)
            damage("EOF found while reading inline image");
    }

    void warn(const std::string& message)
    {
        m_warnings.emplace_back(qpdf_e_damaged_pdf, m_input->getName(), "content", m_input->getLastOffset(), message);
    }

    void damage(const std::string& message)
    {
        warn(message);
        m_damaged = true;
    }

    Buffer m_buffer;
    std::shared_ptr<BufferInputSource> m_input;
    QPDFTokenizer m_tokenizer;
    std::vector<Frame> m_stack;
    std::vector<QPDFExc> m_warnings;
    bool m_damaged = false;
};

// One pass over the bytes that can only say "reads whole", for drawings made of the plain tokens
// alone. Whatever it is not sure of (a comment, an unusual escape or character, an inline
// picture, any damage) goes to the tokenizer, which says what is wrong: the verdict is always
// the tokenizer's, reached about ten times faster on the drawings office programs write.
class QuickReader {
public:
    explicit QuickReader(const std::string& drawing)
        : m_at(reinterpret_cast<const unsigned char*>(drawing.data())), m_end(m_at + drawing.size())
    {
    }

    bool readsWhole()
    {
        while (m_at < m_end) {
            const unsigned char ch = *m_at;
            switch (kinds()[ch]) {
            case space:
                ++m_at;
                break;
            case regular: {
                const unsigned char* start = m_at;
                skipRegular();
                // An inline picture's data is not tokens.
                if (m_stack.empty() && m_at - start == 2 && start[0] == 'I' && start[1] == 'D')
                    return false;
                add(false);
                break;
            }
            case other:
                if (!readDelimited())
                    return false;
                break;
            default:
                return false;
            }
        }
        return m_stack.empty();
    }

private:
    enum Kind : unsigned char { unsure, space, regular, other };

    // Regular characters are printable ASCII outside the delimiters; '#' escapes in names, a
    // backslash outside a string and every other byte are left to the tokenizer.
    static const std::array<Kind, 256>& kinds()
    {
        static const std::array<Kind, 256> table = [] {
            std::array<Kind, 256> kinds{};
            for (int ch = 0x21; ch < 0x7f; ++ch)
                kinds[size_t(ch)] = regular;
            for (unsigned char ch : std::string_view("()<>[]{}/%#\\"))
                kinds[ch] = unsure;
            for (unsigned char ch : std::string_view("()<>[]/"))
                kinds[ch] = other;
            for (unsigned char ch : std::string_view(" \t\r\n"))
                kinds[ch] = space;
            return kinds;
        }();
        return table;
    }

    void skipRegular()
    {
        while (m_at < m_end && kinds()[*m_at] == regular)
            ++m_at;
    }

    bool readDelimited()
    {
        const unsigned char ch = *m_at++;
        switch (ch) {
        case '/': {
            const unsigned char* start = m_at;
            skipRegular();
            if (m_at == start)
                return false;
            add(true, std::string_view(reinterpret_cast<const char*>(start), size_t(m_at - start)));
            return true;
        }
        case '(':
            if (!skipString())
                return false;
            add(false);
            return true;
        case '<':
            if (m_at < m_end && *m_at == '<') {
                ++m_at;
                return open(true);
            }
            if (!skipHexString())
                return false;
            add(false);
            return true;
        case '>':
            if (m_at >= m_end || *m_at != '>')
                return false;
            ++m_at;
            return closeDictionary();
        case '[':
            return open(false);
        case ']':
            if (m_stack.empty() || m_stack.back().dictionary)
                return false;
            m_stack.pop_back();
            add(false);
            return true;
        default:
            return false;
        }
    }

    // A literal string: nested parentheses balance, and only the usual escapes are taken.
    bool skipString()
    {
        int depth = 1;
        while (m_at < m_end) {
            const unsigned char ch = *m_at++;
            if (ch == '\\') {
                if (m_at >= m_end)
                    return false;
                const unsigned char escaped = *m_at++;
                if (std::string_view("nrtbf()\\01234567").find(char(escaped)) == std::string_view::npos)
                    return false;
            } else if (ch == '(') {
                ++depth;
            } else if (ch == ')' && --depth == 0) {
                return true;
            }
        }
        return false;
    }

    bool skipHexString()
    {
        while (m_at < m_end) {
            const unsigned char ch = *m_at++;
            if (ch == '>')
                return true;
            if (!std::isxdigit(ch) && kinds()[ch] != space)
                return false;
        }
        return false;
    }

    bool open(bool dictionary)
    {
        if (m_stack.size() >= deepestNesting)
            return false;
        m_stack.push_back({dictionary, {}});
        return true;
    }

    // Keys that are names, each once, each with its value.
    bool closeDictionary()
    {
        if (m_stack.empty() || !m_stack.back().dictionary)
            return false;
        const std::vector<std::string_view>& items = m_stack.back().items;
        if (items.size() % 2 != 0)
            return false;
        for (size_t k = 0; k < items.size(); k += 2) {
            if (items[k].empty())
                return false;
            for (size_t j = 0; j < k; j += 2) {
                if (items[j] == items[k])
                    return false;
            }
        }
        m_stack.pop_back();
        add(false);
        return true;
    }

    // An item of the dictionary being read: a name as it is (no escapes), anything else empty.
    void add(bool isName, std::string_view name = {})
    {
        if (!m_stack.empty() && m_stack.back().dictionary)
            m_stack.back().items.push_back(isName ? name : std::string_view());
    }

    struct Open {
        bool dictionary = false;
        std::vector<std::string_view> items;
    };

    const unsigned char* m_at;
    const unsigned char* m_end;
    std::vector<Open> m_stack;
};

} // namespace

std::vector<QPDFExc> PdfDrawingSyntax::warnings(const std::string& drawing, const std::string& description)
{
    if (QuickReader(drawing).readsWhole())
        return {};
    return Reader(drawing, description).read();
}

} // namespace qv
