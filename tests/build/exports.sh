#!/usr/bin/env bash
# brencore exports exactly its documented names and nothing else.
set -euo pipefail
lib=$1
expected="UtilityMessageGet
iBrenCreate
iBrenIsMemberName
iGetDeviceInfo
papszGetDeviceNames
pszBrenDllConnect
pszBrenSetConversion
pszCanReadFile
pszCheckIfMembersExist
pszGetMemberList
uComputeDirBlocks
uIsDsnValid
vCheckPattern
vGetDefaultOriginNode
vGetDefaultOriginUser
vSortMembers"
actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | LC_ALL=C sort)
if [ "$actual" != "$(printf '%s\n' "$expected" | LC_ALL=C sort)" ]; then
  echo "exports of $lib differ:"
  diff <(printf '%s\n' "$expected" | LC_ALL=C sort) <(printf '%s\n' "$actual") || true
  exit 1
fi
echo "$(printf '%s\n' "$actual" | wc -l) exports, as documented"
