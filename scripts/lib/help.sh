# Sourced by the scripts under scripts/ right after their `set`: with -h or
# --help among the arguments, prints the script's header, the comment block
# after its first line, and exits with status 0.
for help_arg in "$@"; do
  case "$help_arg" in
    -h | --help) sed -n '2,${/^#/!q;p}' "$0"; exit 0 ;;
  esac
done
unset help_arg
