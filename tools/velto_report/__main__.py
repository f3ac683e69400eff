import sys

from velto_report.cli import main

sys.exit(main(sys.argv[1:]))
