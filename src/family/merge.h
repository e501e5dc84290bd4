// Record merges of the register-based families: what the camera holds, copied into a caller's record
// one field group at a time, with the groups that changed marked.
#pragma once

#include <cstdint>
#include <initializer_list>

#include <hx/hx.h>

namespace halvex::family::merge {

template <class Record>
using Word = uint32_t Record::*;

// Compares the value words of one field group with the cache as a whole; when any differs, copies
// them all and sets HX_FLAG_CHG in each of `flagsWords` (the field's own, its section's, the
// record's). Flags words themselves are never copied. True when the group changed.
template <class Record>
bool mergeGroup(const Record& cached, Record& caller, std::initializer_list<Word<Record>> values,
                std::initializer_list<Word<Record>> flagsWords)
{
    bool differs = false;
    for (Word<Record> value : values)
        differs = differs || caller.*value != cached.*value;
    if (!differs)
        return false;
    for (Word<Record> value : values)
        caller.*value = cached.*value;
    for (Word<Record> flags : flagsWords)
        caller.*flags |= HX_FLAG_CHG;
    return true;
}

// Clears HX_FLAG_ERR and HX_FLAG_CHG in the given flags words, so a reused record reports one
// call's outcome only.
template <class Record>
void clearOutcome(Record& record, std::initializer_list<Word<Record>> flagsWords)
{
    for (Word<Record> flags : flagsWords)
        record.*flags &= ~uint32_t{HX_FLAG_ERR | HX_FLAG_CHG};
}

} // namespace halvex::family::merge
