/* Tessel from C: a program is its own host. It calls a routine by the calling convention of
 * tessel.h, one statement per path, and the host runtime the library links serves it.
 *
 *   cc -o extract extract.c $(pkg-config --cflags --libs tessel)
 *   TARNINSTANCE=tessel TARNQAPPATH=$HOME/.tessel ./extract
 */
#include <tessel.h>
#include <stdio.h>
#include <string.h>

static const char *const kOrders[] = {
    "<purchaseOrder><items><item><price>148.95</price></item></items>"
    "<total>228.91</total></purchaseOrder>",
    "<purchaseOrder><total>52.50</total></purchaseOrder>",
    "<purchaseOrder><items><item><price>39.98</price></item><item><price>24.00</price></item>"
    "</items></purchaseOrder>",
};

/* What a statement keeps from its first call to its final call. The scratchpad's data area must
 * be 8-byte aligned, so the pad starts 4 bytes into an aligned block. */
struct statement {
    _Alignas(8) char block[4 + sizeof(struct sqludf_scratchpad)];
    char dbinfo[SQLUDF_DBINFO_LEN];
    int32_t callType;
};

static struct sqludf_scratchpad *pad(struct statement *s) {
    return (struct sqludf_scratchpad *)(s->block + 4);
}

/* One call of qapExtractDoubleFromVarchar, printed. */
static void extract(struct statement *s, const char *doc, const char *path) {
    char sqlstate[6] = "00000", msgtext[71] = "";
    double value = 0;
    int16_t docInd = 0, pathInd = 0, valueInd = 0;
    qapExtractDoubleFromVarchar(doc, path, &value, &docInd, &pathInd, &valueInd, sqlstate,
                                "extract", "extract", msgtext, pad(s), &s->callType, s->dbinfo);
    if (s->callType == SQLUDF_FINAL_CALL) return;
    if (strcmp(sqlstate, "00000") != 0 && strncmp(sqlstate, "01", 2) != 0)
        printf("  error %s: %.*s\n", sqlstate, (int)strcspn(msgtext, "\n"), msgtext);
    else if (valueInd != 0)
        printf("  NULL (SQLSTATE %s)\n", sqlstate);
    else
        printf("  %.2f\n", value);
}

/* One statement over every order: a first call, normal calls, and the final call. */
static void query(const char *path) {
    struct statement s;
    const int32_t utf8 = 1208;
    memset(&s, 0, sizeof s);
    pad(&s)->length = SQLUDF_SCRATCHPAD_LEN;
    memcpy(s.dbinfo + SQLUDF_DBINFO_CODEPAGE_OFFSET, &utf8, sizeof utf8);
    printf("%s\n", path);
    s.callType = SQLUDF_FIRST_CALL;
    for (size_t i = 0; i < sizeof kOrders / sizeof kOrders[0]; ++i) {
        extract(&s, kOrders[i], path);
        s.callType = SQLUDF_NORMAL_CALL;
    }
    s.callType = SQLUDF_FINAL_CALL; /* releases what the statement kept */
    extract(&s, "", "");
}

int main(void) {
    query("/purchaseOrder/total");
    query("/purchaseOrder/items/item/price");
    return 0;
}
