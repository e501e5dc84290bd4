// Text forms of a register pair.
#include "wire/register_pair.h"

#include <ostream>

#include "wire/wire_text.h"

namespace halvex::wire {

std::string toString(const RegisterPair& pair)
{
    return "(" + hexText(pair.address, 4) + ", " + hexText(pair.value, 8) + ")";
}

std::ostream& operator<<(std::ostream& out, const RegisterPair& pair)
{
    return out << toString(pair);
}

} // namespace halvex::wire
