"""velto-report: tables and charts from velto's result records (--export-json)."""

# The newest record format this tool reads (the record's "schema_version"); it reads
# every older one too.
SCHEMA_VERSION = 2
