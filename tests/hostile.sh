#!/bin/sh
# Repositories whose own configuration or hooks name a program, one for each
# way git would run it; every program only touches a file in MARKERS, outside
# FOLDER. HTTP is an address that answers 401. Usage: hostile.sh FOLDER MARKERS HTTP
set -eu
cd "$1"
m=$2
evil() { printf 'touch %s/%s; false' "$m" "$1"; }
git init -q -b main origin && echo one >origin/f && git -C origin add f && git -C origin commit -qm one
for name in clean fsmonitor hooks ssh askpass credential gitproxy uploadpack ext filter merge include hookspath gpg super; do
  git clone -q "file://$PWD/origin" $name
done
git -C origin mv f g && git -C origin commit -qm two  # every pull has work to do
set_() { git -C "$1" config "$2" "$3"; }
set_ fsmonitor core.fsmonitor "$(evil fsmonitor)"
for hook in reference-transaction post-merge post-checkout post-rewrite; do
  printf '#!/bin/sh\ntouch %s/%s\n' "$m" $hook >hooks/.git/hooks/$hook && chmod +x hooks/.git/hooks/$hook
done
set_ ssh remote.origin.url ssh://127.0.0.1:1/x && set_ ssh core.sshCommand "$(evil ssh)"
set_ askpass remote.origin.url "$3" && set_ askpass core.askPass "$m/askpass"
set_ credential remote.origin.url "$3" && set_ credential credential.helper "!$(evil credential)"
set_ credential "credential.$3.helper" "!$(evil credential-url)"
set_ gitproxy remote.origin.url git://127.0.0.1:1/x && set_ gitproxy core.gitProxy "$(evil gitproxy)"
set_ uploadpack remote.origin.uploadpack "$(evil uploadpack)"
set_ ext remote.origin.url "ext::sh -c touch% $m/ext" && set_ ext protocol.allow always
echo '* filter=evil merge=evil diff=evil' >filter/.git/info/attributes
for key in clean smudge; do set_ filter filter.evil.$key "$(evil $key)"; done
set_ filter filter.evil.process "$(evil process)"
echo '* merge=evil diff=evil' >merge/.git/info/attributes && set_ merge pull.rebase false
set_ merge merge.evil.driver "$(evil merge)" && set_ merge diff.evil.textconv "$(evil textconv)"
echo local >merge/f && git -C merge commit -qam local
printf '[core]\n\tfsmonitor = %s\n' "$(evil include)" >include/.git/more && set_ include include.path more
mkdir hookspath/.githooks && printf '#!/bin/sh\ntouch %s/hookspath\n' "$m" >hookspath/.githooks/post-merge
chmod +x hookspath/.githooks/post-merge && set_ hookspath core.hooksPath .githooks
set_ gpg merge.verifySignatures true && set_ gpg gpg.program "$(evil gpg)"
git init -q -b main lib && echo l >lib/l && git -C lib add l && git -C lib commit -qm l
git -C super -c protocol.file.allow=always submodule -q add --name x/y/z/w/lib "file://$PWD/lib" lib && git -C super commit -qm lib
git clone -q "file://$PWD/super" submodule && set_ submodule submodule.x/y/z/w/lib.url "file://$PWD/lib"
set_ submodule submodule.x/y/z/w/lib.update "!$(evil submodule)"
git -c protocol.file.allow=always clone -q --recurse-submodules "file://$PWD/super" module && echo m >module/lib/l
echo '* filter=evil' >module/.git/modules/x/y/z/w/lib/info/attributes
git -C module/lib config filter.evil.clean "$(evil module)"
