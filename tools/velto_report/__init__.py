"""velto-report: tables and charts from velto's result records (--export-json)."""

# The newest record format this tool reads (the record's "schema_version").
SCHEMA_VERSION = 1
