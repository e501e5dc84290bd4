// The library's error carriers: a Note accumulates located, time-stamped text.
#include "hlv_thread/note.h"

#include <cstdio>
#include <new>

#include "hlv_thread/log.h"

namespace halvex::thread {

namespace {

// The outcome of formatting one entry: the text, or which fixed text replaces it.
struct EntryText {
    enum class Kind { Text, Empty, Fault, NoMemory } kind = Kind::Text;
    std::string text;
    std::size_t bytesNeeded = 0;
};

EntryText formatEntry(const char* format, va_list args) HLV_PRINTF_FORMAT(1, 0);

EntryText formatEntry(const char* format, va_list args)
{
    EntryText entry;
    if (format == nullptr || *format == '\0') {
        entry.kind = EntryText::Kind::Empty;
        return entry;
    }
    va_list measuring;
    va_copy(measuring, args);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length < 0) {
        entry.kind = EntryText::Kind::Fault;
        return entry;
    }
    if (length == 0) {
        entry.kind = EntryText::Kind::Empty;
        return entry;
    }
    entry.bytesNeeded = static_cast<std::size_t>(length) + 1;
    try {
        entry.text.assign(entry.bytesNeeded, '\0');
    } catch (const std::bad_alloc&) {
        entry.kind = EntryText::Kind::NoMemory;
        return entry;
    }
    va_list writing;
    va_copy(writing, args);
    const int written = std::vsnprintf(entry.text.data(), entry.bytesNeeded, format, writing);
    va_end(writing);
    if (written != length) {
        entry.kind = EntryText::Kind::Fault;
        return entry;
    }
    entry.text.resize(static_cast<std::size_t>(length));
    return entry;
}

// The entry's text, or the fixed text that stands in for it.
std::string entryBody(const EntryText& entry, const char* emptyText)
{
    switch (entry.kind) {
    case EntryText::Kind::Text: return entry.text;
    case EntryText::Kind::Empty: return emptyText;
    case EntryText::Kind::Fault: return "vsnprintf() fault in processing exception message.";
    case EntryText::Kind::NoMemory:
        return "could not allocate " + std::to_string(entry.bytesNeeded) + " bytes of storage for exception message.";
    }
    return emptyText;
}

} // namespace

Note::Note() : text_(std::make_unique<std::ostringstream>()) {}

Note::Note(const Note& other) : text_(std::make_unique<std::ostringstream>())
{
    *text_ << other.str();
}

Note& Note::operator=(const Note& other)
{
    if (this != &other) {
        auto copy = std::make_unique<std::ostringstream>();
        *copy << other.str();
        text_ = std::move(copy);
    }
    return *this;
}

Note::~Note() = default;

void Note::add(const char* file, int line, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    addV(file, line, format, args);
    va_end(args);
}

void Note::add(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    addV(format, args);
    va_end(args);
}

std::string Note::str() const
{
    return text_->str();
}

// The first entry carries the time stamp; later ones start a new, indented line.
void Note::beginEntry()
{
    if (text_->tellp() <= 0)
        *text_ << timeStamp() << ": ";
    else
        *text_ << '\n' << std::flush << "  ";
}

void Note::appendLocation(const char* file, int line)
{
    *text_ << (file != nullptr ? file : "(unknown file)") << ", " << line;
}

void Note::addV(const char* file, int line, const char* format, va_list args)
{
    beginEntry();
    appendLocation(file, line);
    *text_ << ": " << entryBody(formatEntry(format, args), "empty exception message.");
}

void Note::addV(const char* format, va_list args)
{
    if (text_->tellp() > 0)
        *text_ << '\n' << std::flush << "  ";
    *text_ << entryBody(formatEntry(format, args), "empty message.");
}

} // namespace halvex::thread
