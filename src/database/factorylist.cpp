#include "database/factorylist.h"

#include "database/mechanismdatabase.h"

namespace tessary {

namespace {

struct FactoryRow {
    const char *name;
    const char *code;
};

// Several mechanisms share a code (rows 1, 8, 26 and 28, for instance): they
// are distinct products with the same electrical configuration.
constexpr FactoryRow FactoryRows[] = {
    {"Mechanism 01", "1111000101000000"}, {"Mechanism 02", "1101001100100000"},
    {"Mechanism 03", "1111100110000000"}, {"Mechanism 04", "1101000110000000"},
    {"Mechanism 05", "1101000101100000"}, {"Mechanism 06", "1111100101100000"},
    {"Mechanism 07", "1101001100100000"}, {"Mechanism 08", "1111000101000000"},
    {"Mechanism 09", "1101100101000000"}, {"Mechanism 10", "1100100101000000"},
    {"Mechanism 11", "1111010010100000"}, {"Mechanism 12", "1101110010100000"},
    {"Mechanism 13", "1100110010100000"}, {"Mechanism 14", "1111100101100000"},
    {"Mechanism 15", "1101100101100000"}, {"Mechanism 16", "1100100101100000"},
    {"Mechanism 17", "1111110011000000"}, {"Mechanism 18", "1101110011000000"},
    {"Mechanism 19", "1100110011000000"}, {"Mechanism 20", "1111110011100000"},
    {"Mechanism 21", "1101110011100000"}, {"Mechanism 22", "1100110011100000"},
    {"Mechanism 23", "1111100110000000"}, {"Mechanism 24", "1101100110000000"},
    {"Mechanism 25", "1100100110000000"}, {"Mechanism 26", "1111000101000000"},
    {"Mechanism 27", "1111010010110000"}, {"Mechanism 28", "1111000101000000"},
    {"Mechanism 29", "1111110011000000"},
};

} // namespace

void FillFactoryList(MechanismDatabase &database)
{
    for (const FactoryRow &row : FactoryRows)
        database.append(QString::fromLatin1(row.name), QString::fromLatin1(row.code));
}

} // namespace tessary
