/* Resource IDs of the stand-in's own test resources. */
#define IDS_PLAIN       995
#define IDS_CHAINED     IDS_TARGET
#define IDS_TARGET      1001
#define IDS_HEX         0x7D0
#define IDS_QUOTES      2001
#define IDS_ESCAPES     2002
#define IDS_EMPTY       2003
#define IDS_SYMBOLS     9999
#define IDI_NUMERIC     101
