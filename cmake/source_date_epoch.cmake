# Run by the build before the shipped files are linked:
#   cmake -D STAMP=FILE -P cmake/source_date_epoch.cmake
# The linker writes SOURCE_DATE_EPOCH (else the current time) into the PE
# header, but a changed environment does not make the build link again. FILE
# holds the value of the last build and is rewritten only when it changes,
# and the links depend on it: a build with the release's value then gives
# the release's bytes.
file(WRITE "${STAMP}.new" "$ENV{SOURCE_DATE_EPOCH}\n")
file(COPY_FILE "${STAMP}.new" "${STAMP}" ONLY_IF_DIFFERENT)
file(REMOVE "${STAMP}.new")
