#include "AccessFacts.h"

#include "FieldValue.h"

namespace parking {

const FeeDefinition* AccessFacts::fee(double code) const
{
    for (const FeeDefinition& f : fees) {
        if (!f.code.isNull() && toDouble(f.code) == code)
            return &f;
    }
    return nullptr;
}

} // namespace parking
