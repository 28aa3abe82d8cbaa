#!/bin/sh
# A farm of repositories in every state a scan reports, made in FOLDER with
# the caller's git configuration (isolated by the tests). Usage: farm.sh FOLDER
# origin never changes after this; moving gets one more commit than its clones.
set -eu
cd "$1"
commit() { git -C "$1" commit -qam "$2"; }
git init -q -b main origin && echo one >origin/file.txt && git -C origin add file.txt && commit origin one
git -C origin branch feature
git clone -q "file://$PWD/origin" moving
for name in clean ahead dirty conflicted gone detached rebasing stash badremote applying picking localtrack; do
  git clone -q "file://$PWD/origin" $name
done
git clone -q "file://$PWD/moving" behind
echo two >>moving/file.txt && commit moving two

echo two >>ahead/file.txt && commit ahead two && git -C ahead config core.abbrev 12
echo staged >dirty/staged.txt && git -C dirty add staged.txt
echo changed >>dirty/file.txt && echo new >dirty/untracked.txt
git -C conflicted checkout -qb side && echo side >conflicted/file.txt && commit conflicted side
git -C conflicted checkout -q main && echo main >conflicted/file.txt && commit conflicted main
git -C conflicted merge -q side >/dev/null 2>&1 || true
git -C gone checkout -q -b feature --track origin/feature && git -C origin branch -qD feature
git -C gone fetch -q --prune
git -C detached checkout -q --detach
git -C rebasing checkout -qb topic && echo topic >rebasing/file.txt && commit rebasing topic
git -C rebasing checkout -q main && echo base >rebasing/file.txt && commit rebasing base
git -C rebasing checkout -q topic && git -C rebasing rebase -q main >/dev/null 2>&1 || true
echo stashed >>stash/file.txt && git -C stash stash -q
echo mine >applying/file.txt && commit applying mine
git -C moving format-patch -q -1 -o "$PWD" && git -C applying am -q ../0001-two.patch >/dev/null 2>&1 || rm 0001-two.patch
git -C picking checkout -qb side && echo s1 >picking/file.txt && commit picking s1 && git -C picking commit -q --allow-empty -m s2
git -C picking checkout -q main && echo m >picking/file.txt && commit picking m
git -C picking cherry-pick side~1 side >/dev/null 2>&1 || true
echo both >picking/file.txt && commit picking resolved  # only the sequencer is left
git -C localtrack checkout -qb topic --track main
git -C badremote remote set-url origin "file://$PWD/nowhere"
git init -q -b main unborn
git init -q -b main noupstream && echo x >noupstream/f && git -C noupstream add f && commit noupstream x
git clone -q "file://$PWD/origin" library
git init -q -b main app && git -C app -c protocol.file.allow=always submodule -q add "file://$PWD/library" lib
commit app lib && git clone -q "file://$PWD/app" withsub
mkdir plain
