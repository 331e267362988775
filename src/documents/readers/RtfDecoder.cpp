#include "documents/readers/RtfDecoder.h"

#include <QHash>
#include <QList>

#include <cerrno>
#include <iconv.h>

namespace qv {
namespace {

struct GroupState {
    int skipCount = 1; // \ucN: characters standing in for each \u
    int font = -1;
    bool fontTable = false;
    bool styleSheet = false;
};

bool isDoubleByte(int codePage)
{
    return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

bool isLeadByte(quint8 byte, int codePage)
{
    if (codePage == 932)
        return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    return isDoubleByte(codePage) && byte >= 0x81 && byte <= 0xFE;
}

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexValue(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

class Rewriter {
public:
    explicit Rewriter(const QByteArray& in) : m_in(in) { m_stack.append(GroupState{}); }

    QByteArray run()
    {
        m_out.reserve(m_in.size() + m_in.size() / 8);
        while (m_at < m_in.size()) {
            const char c = m_in[m_at];
            if (c == '{') {
                flushText();
                m_stack.append(m_stack.last());
                m_out += c;
                m_bareWord = false;
                ++m_at;
            } else if (c == '}') {
                flushText();
                if (m_stack.size() > 1)
                    m_stack.removeLast();
                m_out += c;
                m_bareWord = false;
                ++m_at;
            } else if (c == '\\') {
                controlSequence();
            } else if (c == '\r' || c == '\n') {
                // Line ends in RTF mean nothing; keeping them keeps the file readable. One right
                // after a control word ends the word, as the space it becomes does for pandoc.
                flushText();
                m_out += m_bareWord ? ' ' : c;
                m_bareWord = false;
                ++m_at;
            } else if (quint8(c) >= 0x80 || m_openLead) {
                takeByte(quint8(c));
                ++m_at;
            } else {
                flushText();
                if (m_bareWord && (isLetter(c) || isDigit(c) || c == ' ' || c == '-'))
                    m_out += ' ';
                m_bareWord = false;
                m_out += c;
                ++m_at;
            }
        }
        flushText();
        return m_out;
    }

private:
    int codePage() const
    {
        const GroupState& state = m_stack.last();
        const int font = state.font >= 0 ? state.font : m_defaultFont;
        const int page = m_fontPages.value(font, 0);
        return page ? page : m_documentPage;
    }

    void takeByte(quint8 byte)
    {
        const int page = codePage();
        if (!m_bytes.isEmpty() && page != m_bytesPage)
            flushText();
        m_bytesPage = page;
        m_bytes += char(byte);
        m_openLead = m_openLead ? false : isLeadByte(byte, page);
    }

    void emitText(const QString& text)
    {
        if (text.isEmpty())
            return;
        // A space ends the control word before it; pandoc takes any other character for part of it.
        if (m_bareWord)
            m_out += ' ';
        m_bareWord = false;
        for (const char c : text.toUtf8()) {
            if (c == '\\' || c == '{' || c == '}')
                m_out += '\\';
            m_out += c;
        }
    }

    void emitCodePoint(char32_t code)
    {
        emitText(QString::fromUcs4(&code, 1));
    }

    // Pending code-page bytes and a lone high surrogate go out before anything else.
    void flushText()
    {
        if (!m_bytes.isEmpty()) {
            m_openLead = false;
            const QByteArray bytes = std::exchange(m_bytes, {});
            emitText(RtfDecoder::decode(bytes, m_bytesPage));
        }
        if (m_highSurrogate) {
            m_highSurrogate = 0;
            emitCodePoint(0xFFFD);
        }
    }

    // A control word or symbol at m_at.
    void controlSequence()
    {
        const qsizetype start = m_at;
        if (m_at + 1 >= m_in.size()) {
            flushText();
            m_out += m_in.mid(m_at);
            m_at = m_in.size();
            return;
        }
        const char next = m_in[m_at + 1];
        if (next == '\'') {
            const int high = m_at + 2 < m_in.size() ? hexValue(m_in[m_at + 2]) : -1;
            const int low = m_at + 3 < m_in.size() ? hexValue(m_in[m_at + 3]) : -1;
            if (high < 0 || low < 0) {
                flushText();
                m_out += m_in.mid(m_at, 2);
                m_at += 2;
                return;
            }
            const quint8 byte = quint8(high * 16 + low);
            // ASCII stays escaped: list levels keep numbers and lengths that way.
            if (byte < 0x80 && !m_openLead) {
                flushText();
                m_out += m_in.mid(m_at, 4);
                m_bareWord = false;
                m_at += 4;
                return;
            }
            m_at += 4;
            takeByte(byte);
            return;
        }
        if (!isLetter(next)) {
            // \\, \{ and \} may be the second byte of a double-byte character.
            if ((next == '\\' || next == '{' || next == '}') && m_openLead) {
                m_bytes += next;
                m_openLead = false;
                m_at += 2;
                return;
            }
            flushText();
            m_out += m_in.mid(m_at, 2);
            m_bareWord = false;
            m_at += 2;
            return;
        }
        qsizetype at = m_at + 1;
        while (at < m_in.size() && isLetter(m_in[at]) && at - m_at <= 32)
            ++at;
        const QByteArray word = m_in.mid(m_at + 1, at - m_at - 1);
        const qsizetype numberStart = at;
        if (at < m_in.size() && m_in[at] == '-')
            ++at;
        while (at < m_in.size() && isDigit(m_in[at]) && at - numberStart < 11)
            ++at;
        const QByteArray numberText = m_in.mid(numberStart, at - numberStart);
        const bool hasNumber = !numberText.isEmpty() && numberText != "-";
        if (!hasNumber)
            at = numberStart;
        const long long number = hasNumber ? numberText.toLongLong() : 0;
        bool delimited = false;
        if (at < m_in.size() && m_in[at] == ' ') {
            ++at;
            delimited = true;
        }
        m_at = at;
        GroupState& state = m_stack.last();

        if (word == "u" && hasNumber) {
            flushBytesOnly();
            long long value = number;
            if (value < 0)
                value += 65536;
            const char32_t code = char32_t(value & 0xFFFF);
            if (code >= 0xD800 && code <= 0xDBFF) {
                if (m_highSurrogate)
                    emitCodePoint(0xFFFD);
                m_highSurrogate = code;
            } else if (code >= 0xDC00 && code <= 0xDFFF) {
                if (m_highSurrogate) {
                    const char32_t whole = 0x10000 + ((m_highSurrogate - 0xD800) << 10) + (code - 0xDC00);
                    m_highSurrogate = 0;
                    emitCodePoint(whole);
                } else {
                    emitCodePoint(0xFFFD);
                }
            } else {
                if (m_highSurrogate) {
                    m_highSurrogate = 0;
                    emitCodePoint(0xFFFD);
                }
                emitCodePoint(code);
            }
            skipStandIns(state.skipCount);
            return;
        }
        flushText();
        if (word == "bin" && hasNumber) {
            // Binary picture data, as hex the way nearly every writer gives it.
            const qsizetype length = std::clamp<long long>(number, 0, m_in.size() - m_at);
            m_out += ' ';
            m_out += m_in.mid(m_at, length).toHex();
            m_out += ' ';
            m_at += length;
            m_bareWord = false;
            return;
        }
        // A paragraph that begins a page starts with the mark, as one after a page break does.
        if (word == "pagebb" && !state.fontTable && !state.styleSheet && (!hasNumber || number != 0)) {
            m_out += m_in.mid(start, m_at - start);
            if (!delimited)
                m_out += ' ';
            m_bareWord = false;
            emitText(QString(QChar(RtfDecoder::pageMark)));
            return;
        }
        if (word == "page" && !state.fontTable) {
            m_out += ' ';
            emitText(QString(QChar(RtfDecoder::pageMark)));
            m_out += ' ';
            return;
        }
        if (word == "uc" && hasNumber)
            state.skipCount = int(std::clamp<long long>(number, 0, 8));
        else if (word == "ansicpg" && hasNumber)
            m_documentPage = int(number);
        else if (word == "deff" && hasNumber)
            m_defaultFont = int(number);
        else if (word == "fonttbl")
            state.fontTable = true;
        else if (word == "stylesheet")
            state.styleSheet = true;
        else if (word == "f" && hasNumber) {
            if (state.fontTable)
                m_definedFont = int(number);
            state.font = int(number);
        } else if (word == "fcharset" && hasNumber && state.fontTable && m_definedFont >= 0) {
            if (!m_explicitPage.contains(m_definedFont))
                m_fontPages.insert(m_definedFont, RtfDecoder::codePageOfCharset(int(number)));
        } else if (word == "cpg" && hasNumber && state.fontTable && m_definedFont >= 0) {
            m_fontPages.insert(m_definedFont, int(number));
            m_explicitPage.insert(m_definedFont, true);
        } else if (word == "plain") {
            // \plain resets character formatting, the font included.
            state.font = -1;
        }
        m_out += m_in.mid(start, m_at - start);
        m_bareWord = !delimited;
    }

    void flushBytesOnly()
    {
        if (m_bytes.isEmpty())
            return;
        m_openLead = false;
        const QByteArray bytes = std::exchange(m_bytes, {});
        emitText(RtfDecoder::decode(bytes, m_bytesPage));
    }

    // The characters after \u that older readers show instead of it.
    void skipStandIns(int count)
    {
        while (count > 0 && m_at < m_in.size()) {
            const char c = m_in[m_at];
            if (c == '{' || c == '}')
                return;
            if (c == '\r' || c == '\n') {
                ++m_at;
                continue;
            }
            if (c == '\\') {
                if (m_at + 1 < m_in.size() && m_in[m_at + 1] == '\'') {
                    m_at += 4;
                } else if (m_at + 1 < m_in.size() && !isLetter(m_in[m_at + 1])) {
                    m_at += 2;
                } else {
                    // A control word stands in as one character.
                    qsizetype at = m_at + 1;
                    while (at < m_in.size() && isLetter(m_in[at]))
                        ++at;
                    if (at < m_in.size() && m_in[at] == '-')
                        ++at;
                    while (at < m_in.size() && isDigit(m_in[at]))
                        ++at;
                    if (at < m_in.size() && m_in[at] == ' ')
                        ++at;
                    m_at = at;
                }
            } else {
                ++m_at;
            }
            --count;
        }
        m_at = std::min(m_at, m_in.size());
    }

    const QByteArray& m_in;
    qsizetype m_at = 0;
    QByteArray m_out;
    QList<GroupState> m_stack;
    QHash<int, int> m_fontPages;
    QHash<int, bool> m_explicitPage;
    int m_documentPage = 1252;
    int m_defaultFont = -1;
    int m_definedFont = -1;
    QByteArray m_bytes;
    int m_bytesPage = 1252;
    bool m_openLead = false; // m_bytes ends with the first byte of a double-byte character
    char32_t m_highSurrogate = 0;
    bool m_bareWord = false; // the output ends in a control word with no space after it
};

const char* iconvName(int codePage)
{
    switch (codePage) {
    case 437: return "CP437";
    case 708: return "ISO-8859-6";
    case 850: return "CP850";
    case 852: return "CP852";
    case 866: return "CP866";
    case 874: return "CP874";
    case 932: return "CP932";
    case 936: return "GBK";
    case 949: return "CP949";
    case 950: return "BIG5";
    case 1250: return "CP1250";
    case 1251: return "CP1251";
    case 1252: return "CP1252";
    case 1253: return "CP1253";
    case 1254: return "CP1254";
    case 1255: return "CP1255";
    case 1256: return "CP1256";
    case 1257: return "CP1257";
    case 1258: return "CP1258";
    case 10000: return "MACINTOSH";
    case 10007: return "MAC-CYRILLIC";
    case 65001: return "UTF-8";
    default: return nullptr;
    }
}

} // namespace

int RtfDecoder::codePageOfCharset(int charset)
{
    switch (charset) {
    case 0: return 1252;
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    case 254: return 437;
    default: return 0;
    }
}

QString RtfDecoder::decode(const QByteArray& bytes, int codePage)
{
    const char* name = iconvName(codePage);
    if (!name)
        name = "CP1252";
    iconv_t cd = iconv_open("UTF-8", name);
    if (cd == iconv_t(-1))
        return QString::fromLatin1(bytes);
    QByteArray out;
    out.resize(bytes.size() * 4 + 16);
    char* in = const_cast<char*>(bytes.constData());
    size_t inLeft = size_t(bytes.size());
    char* to = out.data();
    size_t outLeft = size_t(out.size());
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &to, &outLeft) != size_t(-1))
            break;
        if (errno == E2BIG)
            break;
        // An undefined byte or a character cut short.
        static const char replacement[] = "\xEF\xBF\xBD";
        if (outLeft < 3)
            break;
        memcpy(to, replacement, 3);
        to += 3;
        outLeft -= 3;
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    out.resize(to - out.data());
    return QString::fromUtf8(out);
}

QByteArray RtfDecoder::toUtf8(const QByteArray& rtf)
{
    return Rewriter(rtf).run();
}

} // namespace qv
