#!/bin/sh
# A farm of repositories in every state a scan reports, made in FOLDER with
# the caller's git configuration (isolated by the tests). Usage: farm.sh FOLDER
# origin never changes after this; moving gets one more commit than its clones.
set -eu
cd "$1"
commit() { git -C "$1" commit -qam "$2"; }
# clash REPOSITORY GIT-ARGUMENTS...: commits on side and main that conflict, then git's command on main.
clash() {
  git -C "$1" checkout -qb side && echo side >"$1/file.txt" && commit "$1" side
  git -C "$1" checkout -q main && echo main >"$1/file.txt" && commit "$1" main
  repository=$1 && shift && git -C "$repository" "$@" >/dev/null 2>&1 || true
}
git init -q -b main origin && echo one >origin/file.txt && git -C origin add file.txt && commit origin one
git -C origin branch feature
for name in moving clean ahead dirty conflicted gone detached rebasing stash badremote applying picking reverting bisecting \
    sequencer localtrack; do
  git clone -q "file://$PWD/origin" $name
done
git clone -q "file://$PWD/moving" behind && git -C behind pack-refs --all  # its branch in packed-refs, as after gc
echo two >>moving/file.txt && commit moving two

echo two >>ahead/file.txt && commit ahead two && git -C ahead config core.abbrev 12
echo staged >dirty/staged.txt && git -C dirty add staged.txt
echo changed >>dirty/file.txt && echo new >dirty/untracked.txt
clash conflicted merge -q side
clash rebasing rebase -q side
clash picking cherry-pick side
clash reverting revert --no-edit HEAD~1
git -C bisecting bisect start >/dev/null
git -C gone checkout -q -b feature --track origin/feature && git -C origin branch -qD feature
git -C gone fetch -q --prune
git -C detached checkout -q --detach
echo stashed >>stash/file.txt && git -C stash stash -q
echo mine >applying/file.txt && commit applying mine
git -C moving format-patch -q -1 -o "$PWD" && git -C applying am -q ../0001-two.patch >/dev/null 2>&1 || rm 0001-two.patch
git -C sequencer checkout -qb side && echo s1 >sequencer/file.txt && commit sequencer s1
git -C sequencer commit -q --allow-empty -m s2 && git -C sequencer checkout -q main
echo m >sequencer/file.txt && commit sequencer m && git -C sequencer cherry-pick side~1 side >/dev/null 2>&1 || true
echo both >sequencer/file.txt && commit sequencer resolved  # only the sequencer is left
git -C localtrack checkout -qb topic --track main
git -C badremote remote set-url origin "file://$PWD/nowhere"
git init -q -b main unborn
git init -q -b main noupstream && echo x >noupstream/f && git -C noupstream add f && commit noupstream x
git clone -q "file://$PWD/origin" library
git init -q -b main app && git -C app -c protocol.file.allow=always submodule -q add "file://$PWD/library" lib
commit app lib && git clone -q "file://$PWD/app" withsub
mkdir plain
