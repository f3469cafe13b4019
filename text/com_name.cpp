#include "text/com_name.h"

bool ParseComName(const char* name, std::uint16_t* number) {
    if (name[0] != 'C' || name[1] != 'O' || name[2] != 'M' || name[3] < '1' || name[3] > '9') {
        return false;
    }
    unsigned value = 0;
    const char* digit = name + 3;
    for (; *digit >= '0' && *digit <= '9'; ++digit) {
        value = value * 10 + static_cast<unsigned>(*digit - '0');
        if (value > 0xFFFF) {
            return false;
        }
    }
    if (*digit != '\0') {
        return false;
    }
    *number = static_cast<std::uint16_t>(value);
    return true;
}
