#include "engines/pdf/PdfDrawingSyntax.h"

#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/QPDFTokenizer.hh>

#include <memory>
#include <optional>
#include <set>

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

} // namespace

std::vector<QPDFExc> PdfDrawingSyntax::warnings(const std::string& drawing, const std::string& description)
{
    return Reader(drawing, description).read();
}

} // namespace qv
