// The table of routines. Adding a routine to the extension takes one row here.
#include "tesselRoutines.h"

namespace tessel_sqlite {

namespace {

using T = tarn::SqlType;
using K = RoutineKind;

// Inputs by document source: a server file name, a VARCHAR document or a CLOB document, each
// optionally followed by a DTD (a CLOB), then the location path.
const Shape kFile{{T::Varchar, T::Varchar}, true};
const Shape kFileDtd{{T::Varchar, T::Clob, T::Varchar}, true};
const Shape kDoc{{T::Varchar, T::Varchar}, false};
const Shape kDocDtd{{T::Varchar, T::Clob, T::Varchar}, false};
const Shape kClob{{T::Clob, T::Varchar}, false};
const Shape kClobDtd{{T::Clob, T::Clob, T::Varchar}, false};

const RoutineRow kRows[] = {
    // Scalar extract routines: the single value at a location path.
    {"qapExtractVarchar", kFile, T::Varchar, 4000, K::Scalar},
    {"qapExtractVarchar2", kFileDtd, T::Varchar, 4000, K::Scalar},
    {"qapExtractChar", kFile, T::Char, 254, K::Scalar},
    {"qapExtractClob", kFile, T::Clob, 0, K::Scalar},
    {"qapExtractClob2", kFileDtd, T::Clob, 0, K::Scalar},
    {"qapExtractDate", kFile, T::Date, 0, K::Scalar},
    {"qapExtractTime", kFile, T::Time, 0, K::Scalar},
    {"qapExtractTimestamp", kFile, T::Timestamp, 0, K::Scalar},
    {"qapExtractDouble", kFile, T::Double, 0, K::Scalar},
    {"qapExtractDouble2", kFileDtd, T::Double, 0, K::Scalar},
    {"qapExtractReal", kFile, T::Real, 0, K::Scalar},
    {"qapExtractReal2", kFileDtd, T::Real, 0, K::Scalar},
    {"qapExtractInteger", kFile, T::Integer, 0, K::Scalar},
    {"qapExtractSmallint", kFile, T::Smallint, 0, K::Scalar},
    {"qapExtractVarcharFromVarchar", kDoc, T::Varchar, 4000, K::Scalar},
    {"qapExtractVarcharFromVarchar2", kDocDtd, T::Varchar, 4000, K::Scalar},
    {"qapExtractCharFromVarchar", kDoc, T::Char, 254, K::Scalar},
    {"qapExtractClobFromVarchar", kDoc, T::Clob, 0, K::Scalar},
    {"qapExtractClobFromVarchar2", kDocDtd, T::Clob, 0, K::Scalar},
    {"qapExtractDateFromVarchar", kDoc, T::Date, 0, K::Scalar},
    {"qapExtractTimeFromVarchar", kDoc, T::Time, 0, K::Scalar},
    {"qapExtractTimestampFromVarchar", kDoc, T::Timestamp, 0, K::Scalar},
    {"qapExtractDoubleFromVarchar", kDoc, T::Double, 0, K::Scalar},
    {"qapExtractDoubleFromVarchar2", kDocDtd, T::Double, 0, K::Scalar},
    {"qapExtractRealFromVarchar", kDoc, T::Real, 0, K::Scalar},
    {"qapExtractRealFromVarchar2", kDocDtd, T::Real, 0, K::Scalar},
    {"qapExtractIntegerFromVarchar", kDoc, T::Integer, 0, K::Scalar},
    {"qapExtractSmallintFromVarchar", kDoc, T::Smallint, 0, K::Scalar},
    {"qapExtractVarcharFromClob", kClob, T::Varchar, 4000, K::Scalar},
    {"qapExtractVarcharFromClob2", kClobDtd, T::Varchar, 4000, K::Scalar},
    {"qapExtractCharFromClob", kClob, T::Char, 254, K::Scalar},
    {"qapExtractClobFromClob", kClob, T::Clob, 0, K::Scalar},
    {"qapExtractClobFromClob2", kClobDtd, T::Clob, 0, K::Scalar},
    {"qapExtractDateFromClob", kClob, T::Date, 0, K::Scalar},
    {"qapExtractTimeFromClob", kClob, T::Time, 0, K::Scalar},
    {"qapExtractTimestampFromClob", kClob, T::Timestamp, 0, K::Scalar},
    {"qapExtractDoubleFromClob", kClob, T::Double, 0, K::Scalar},
    {"qapExtractDoubleFromClob2", kClobDtd, T::Double, 0, K::Scalar},
    {"qapExtractRealFromClob", kClob, T::Real, 0, K::Scalar},
    {"qapExtractRealFromClob2", kClobDtd, T::Real, 0, K::Scalar},
    {"qapExtractIntegerFromClob", kClob, T::Integer, 0, K::Scalar},
    {"qapExtractSmallintFromClob", kClob, T::Smallint, 0, K::Scalar},
    // Table extract routines: every value at a location path, one row each.
    {"qapExtractVarchars", kFile, T::Varchar, 4000, K::Table},
    {"qapExtractVarchars2", kFileDtd, T::Varchar, 4000, K::Table},
    {"qapExtractChars", kFile, T::Char, 254, K::Table},
    {"qapExtractClobs", kFile, T::Clob, 0, K::Table},
    {"qapExtractClobs2", kFileDtd, T::Clob, 0, K::Table},
    {"qapExtractDates", kFile, T::Date, 0, K::Table},
    {"qapExtractTimes", kFile, T::Time, 0, K::Table},
    {"qapExtractTimestamps", kFile, T::Timestamp, 0, K::Table},
    {"qapExtractDoubles", kFile, T::Double, 0, K::Table},
    {"qapExtractDoubles2", kFileDtd, T::Double, 0, K::Table},
    {"qapExtractReals", kFile, T::Real, 0, K::Table},
    {"qapExtractReals2", kFileDtd, T::Real, 0, K::Table},
    {"qapExtractIntegers", kFile, T::Integer, 0, K::Table},
    {"qapExtractSmallints", kFile, T::Smallint, 0, K::Table},
    {"qapExtractVarcharsFromVarchar", kDoc, T::Varchar, 4000, K::Table},
    {"qapExtractVarcharsFromVarchar2", kDocDtd, T::Varchar, 4000, K::Table},
    {"qapExtractCharsFromVarchar", kDoc, T::Char, 254, K::Table},
    {"qapExtractClobsFromVarchar", kDoc, T::Clob, 0, K::Table},
    {"qapExtractClobsFromVarchar2", kDocDtd, T::Clob, 0, K::Table},
    {"qapExtractDatesFromVarchar", kDoc, T::Date, 0, K::Table},
    {"qapExtractTimesFromVarchar", kDoc, T::Time, 0, K::Table},
    {"qapExtractTimestampsFromVarchar", kDoc, T::Timestamp, 0, K::Table},
    {"qapExtractDoublesFromVarchar", kDoc, T::Double, 0, K::Table},
    {"qapExtractDoublesFromVarchar2", kDocDtd, T::Double, 0, K::Table},
    {"qapExtractRealsFromVarchar", kDoc, T::Real, 0, K::Table},
    {"qapExtractRealsFromVarchar2", kDocDtd, T::Real, 0, K::Table},
    {"qapExtractIntegersFromVarchar", kDoc, T::Integer, 0, K::Table},
    {"qapExtractSmallintsFromVarchar", kDoc, T::Smallint, 0, K::Table},
    {"qapExtractVarcharsFromClob", kClob, T::Varchar, 4000, K::Table},
    {"qapExtractVarcharsFromClob2", kClobDtd, T::Varchar, 4000, K::Table},
    {"qapExtractCharsFromClob", kClob, T::Char, 254, K::Table},
    {"qapExtractClobsFromClob", kClob, T::Clob, 0, K::Table},
    {"qapExtractClobsFromClob2", kClobDtd, T::Clob, 0, K::Table},
    {"qapExtractDatesFromClob", kClob, T::Date, 0, K::Table},
    {"qapExtractTimesFromClob", kClob, T::Time, 0, K::Table},
    {"qapExtractTimestampsFromClob", kClob, T::Timestamp, 0, K::Table},
    {"qapExtractDoublesFromClob", kClob, T::Double, 0, K::Table},
    {"qapExtractDoublesFromClob2", kClobDtd, T::Double, 0, K::Table},
    {"qapExtractRealsFromClob", kClob, T::Real, 0, K::Table},
    {"qapExtractRealsFromClob2", kClobDtd, T::Real, 0, K::Table},
    {"qapExtractIntegersFromClob", kClob, T::Integer, 0, K::Table},
    {"qapExtractSmallintsFromClob", kClob, T::Smallint, 0, K::Table},
};

} // namespace

const RoutineRow *routineRows(size_t *count) {
    *count = sizeof kRows / sizeof kRows[0];
    return kRows;
}

} // namespace tessel_sqlite
