/* A program of someone else's, built against an installation through pkg-config.
 *
 * With PROBE_ALL_HEADERS it only includes every public header in one C translation unit (they
 * must go together). Otherwise it links one core (PROBE_CORE names its connect function) and
 * codexa, connects, and prints the product name and the file of the library that answered,
 * then upper-cases a letter through codexa's Unicode properties. */
#include <stdio.h>

#include "codexa.h"

#ifdef PROBE_ALL_HEADERS
#if __has_include("brencore.h")
#include "brencore.h"
#endif
#if __has_include("opxcore.h")
#include "opxcore.h"
#endif
#if __has_include("ufxcore.h")
#include "ufxcore.h"
#endif
#if __has_include("vrlcore.h")
#include "vrlcore.h"
#endif
int probe(void) {
    return 0;
}
#else
#include PROBE_HEADER

int main(void) {
    int status = -1;
    ConnectionRecord* record = NULL;
    PROBE_CORE(&status, &record, 0, NULL, "Quorin Toolbench", "3.0.07", NULL, NULL);
    if (record == NULL || record->productName == NULL || record->modulePath == NULL) {
        fprintf(stderr, "no connection record\n");
        return 1;
    }
    printf("%s\n%s\n%c\n", record->productName, record->modulePath, (char)uUnicodeToUpper('q'));
    return 0;
}
#endif
