// Defines a family's exported members from the routine catalogue. A family source writes
//
//   #define QAP_MEMBER_OF_qapExtractScalar QAP_THIS_FAMILY(ExtractScalar)
//   TESSEL_CATALOG(QAP_MEMBER)
//
// and each catalogue row of family qapExtractScalar becomes an exported function with the
// row's argument list that runs ExtractScalar::call<RoutineId::name> in the routine frame.
// Rows of other families expand to nothing.
#pragma once

#include "qapCall.h"
#include "tessel.h"

#define QAP_THIS_FAMILY(impl) ~, QAP_DEFINE_MEMBER, impl
#define QAP_SECOND_(a, b, ...) b
#define QAP_THIRD_(a, b, c, ...) c
#define QAP_SECOND(...) QAP_SECOND_(__VA_ARGS__)
#define QAP_THIRD(...) QAP_THIRD_(__VA_ARGS__)
#define QAP_SKIP_MEMBER(...)

#define QAP_MEMBER(name, family, ...)                                                              \
    QAP_SECOND(QAP_MEMBER_OF_##family, QAP_SKIP_MEMBER, )                                          \
    (QAP_THIRD(QAP_MEMBER_OF_##family, , , ), name, family, __VA_ARGS__)

#define QAP_DEFINE_MEMBER(impl, name, family, kind, source, result, length, count, inputs)         \
    extern "C" TESSEL_API void name(TESSEL_PARAMS(TESSEL_OUT_##result, count, inputs)) {           \
        (void)fnName;                                                                              \
        (void)specificName;                                                                        \
        qapRunMember<impl, tessel::RoutineId::name>(QapArgs{{TESSEL_INPUTS_##count},               \
                                                            {TESSEL_INDS_##count},                 \
                                                            out,                                   \
                                                            outInd,                                \
                                                            sqlstate,                              \
                                                            msgtext,                               \
                                                            scratchpad,                            \
                                                            *callType,                             \
                                                            dbinfo});                              \
    }
