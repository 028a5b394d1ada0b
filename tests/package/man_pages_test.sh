#!/usr/bin/env bash
# The manual pages, the package's changelog and --version against the
# programs and the project's version: every option (and zamhost command) a
# program's --help names is in its manual page and the other way round, the
# pages and the changelog carry the project's version, and every program
# answers --version with the project version and a commit.
#   man_pages_test.sh BUILD_FOLDER SOURCE_FOLDER
set -uo pipefail
build=$1
source=$2
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The long options in a help text, one a line, sorted: "--port".
help_options() {
  grep -oE -- '(^|[ ,])--[a-z][a-z0-9-]*' | sed 's/^[ ,]*//' | sort -u
}

# The long options a manual page documents (\- is a minus in roff), its
# comments and examples (other programs' options) left out.
man_options() {
  sed -e 's/\\-/-/g' "$1" | awk '/^\.\\"/ {next} /^\.SH/ {examples = ($2 == "EXAMPLES")} !examples' | help_options
}

project_version=$(sed -nE 's/^project\(zamkt VERSION ([0-9.]+).*/\1/p' "$source/CMakeLists.txt")
[ -n "$project_version" ] || fail "no project version in CMakeLists.txt"

# The package's changelog names the same version.
head -1 "$source/contrib/debian/changelog" | grep -qF "zamkt ($project_version)" ||
  fail "contrib/debian/changelog does not start with version $project_version"

check_page() {  # program, manual page, help text
  local program=$1 page=$2 help=$3
  local missing extra
  missing=$(comm -23 <(help_options <<<"$help") <(man_options "$page"))
  extra=$(comm -13 <(help_options <<<"$help") <(man_options "$page"))
  [ -z "$missing" ] || fail "$page lacks what $program --help names:" $missing
  [ -z "$extra" ] || fail "$page names what $program --help does not:" $extra
  local th
  th=$(grep -m1 '^\.TH' "$page")
  [[ "$th" == *"\"zamkt $project_version\""* ]] || fail "$page: the version in '$th' is not $project_version"
  # A page man cannot render without complaint.
  local warnings
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page: $warnings"
}

# zamhost: the global options, then each command's, and the commands.
zamhost_help=$("$build/zamhost" --help)
commands=$(sed -n '/^Subcommands:/,$p' <<<"$zamhost_help" | sed -nE 's/^  ([a-z]+) .*/\1/p')
[ -n "$commands" ] || fail "zamhost --help lists no commands"
for command in $commands; do
  zamhost_help+=$'\n'$("$build/zamhost" "$command" --help)
  grep -qE "^\.B $command\$" "$source/contrib/man/zamhost.1" || fail "zamhost.1 has no entry for the command $command"
done
check_page zamhost "$source/contrib/man/zamhost.1" "$zamhost_help"
check_page zamgate "$source/contrib/man/zamgate.8" "$("$build/zamgate" --help)"
check_page n2sim "$source/contrib/man/n2sim.1" "$("$build/n2sim" --help)"

# --version: "<program> <version> (commit <hash>)", exit 0.
for program in zamhost zamgate n2sim; do
  text=$("$build/$program" --version 2>&1)
  status=$?
  [ $status -eq 0 ] || fail "$program --version exited $status"
  [[ "$text" =~ ^$program\ ${project_version//./\\.}\ \(commit\ ([0-9a-f]{7,}(-dirty)?|unknown)\)$ ]] ||
    fail "$program --version printed '$text'"
done

if [ $failures -ne 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "manual pages and --version agree with the programs"
