/* host.c: a minimal C host built against the installed library. */
#include <stdio.h>

#include <koc/koc.h>

int main(void)
{
    koc_charSegmentRunParams params;
    koc_charSegmentResult result;
    const kstd_vector_koc_charSegmentParagraphResult* paragraphs = NULL;
    int32_t rc;

    if (koc_charSegmentRunParams_construct(&params) != 0) return 1;
    params.numLines = 0;
    rc = koc_charSegmentRunParams_validate(&params);
    printf("%s: %s\n", koc_resultName(rc), koc_resultMessage(rc));
    if (rc != KOC_E_NUM_LINES) return 2;
    koc_charSegmentRunParams_destruct(&params);

    if (koc_charSegmentResult_construct(&result) != 0) return 3;
    if (koc_charSegmentResult_getParagraphResults(&result, &paragraphs) != KOC_E_NOT_COMPUTED) return 4;
    koc_charSegmentResult_destruct(&result);
    printf("host ok\n");
    return 0;
}
