// Reads the compile commands of the Apple build and of the Linux builds that scripts/check-macos
// configured (each TREE is a folder of WORK holding a compile_commands.json), and the project's
// C, C++ and Objective-C++ sources on standard input (one path a line, relative to ROOT).
// Writes, in WORK:
//   zig.ninja         one edge per C or C++ file of the Apple build: its own command, run by Zig
//   objc-sources.txt  the Objective-C++ files of the Apple build, for the GNUstep syntax check
//   linux-only.txt    the sources that only the Linux builds compile
// and prints their counts; fails, naming them, when sources are in neither the Apple build nor
// a Linux build.
// Usage: node plan.mjs ROOT WORK APPLE_TREE LINUX_TREE... < sources
import {readFileSync, writeFileSync} from 'node:fs';
import path from 'node:path';

const [root, work, appleTree, ...linuxTrees] = process.argv.slice(2);
const relative = (file) => path.relative(root, path.resolve(file));

function entriesOf(tree) {
  const file = path.join(work, tree, 'compile_commands.json');
  return JSON.parse(readFileSync(file, 'utf8')).map((entry) => ({
    ...entry,
    source: relative(path.resolve(entry.directory, entry.file)),
  }));
}

const apple = entriesOf(appleTree);
const linux = linuxTrees.flatMap(entriesOf);
const isObjectiveC = (source) => source.endsWith('.mm');

// Ninja reads "$" as the start of a variable everywhere, and " " and ":" as separators in the
// paths of a build line.
const escapeValue = (text) => text.replaceAll('$', '$$');
const escapePath = (text) => escapeValue(text).replaceAll(' ', '$ ').replaceAll(':', '$:');

const zig = apple.filter((entry) => !isObjectiveC(entry.source));
const lines = [
  '# Written by scripts/check-macos from build-macos-check/apple/compile_commands.json.',
  'ninja_required_version = 1.5',
  'rule zig',
  '  command = cd $directory && $compile -MD -MF $out.d',
  '  depfile = $out.d',
  '  deps = gcc',
  '  description = zig c++ $source',
];
for (const entry of zig) {
  const output = entry.command.match(/ -o (\S+) /);
  if (!output) {
    throw new Error(`no "-o" in the command of ${entry.source}`);
  }
  const object = path.resolve(entry.directory, output[1]);
  lines.push(`build ${escapePath(object)}: zig ${escapePath(path.resolve(root, entry.source))}`);
  lines.push(`  directory = ${escapeValue(entry.directory)}`);
  lines.push(`  compile = ${escapeValue(entry.command)}`);
  lines.push(`  source = ${escapeValue(entry.source)}`);
}
writeFileSync(path.join(work, 'zig.ninja'), lines.join('\n') + '\n');

const appleSources = new Set(apple.map((entry) => entry.source));
const linuxSources = new Set(linux.map((entry) => entry.source));
const objectiveC = [...appleSources].filter(isObjectiveC).sort();
writeFileSync(path.join(work, 'objc-sources.txt'), objectiveC.map((source) => source + '\n').join(''));
const linuxOnly = [...linuxSources].filter((source) => !appleSources.has(source)).sort();
writeFileSync(path.join(work, 'linux-only.txt'), linuxOnly.map((source) => source + '\n').join(''));

const sources = readFileSync(0, 'utf8').split('\n').filter((line) => line !== '');
const unbuilt = sources.filter((source) => !appleSources.has(source) && !linuxSources.has(source));
const ours = new Set(sources);
const strangers = [...appleSources].filter((source) => !ours.has(source));
for (const source of unbuilt) {
  console.error(`check-macos: ${source} is compiled by neither the Apple nor a Linux build`);
}
for (const source of strangers) {
  console.error(`check-macos: the Apple build compiles ${source}, which is not one of the sources`);
}
if (unbuilt.length + strangers.length !== 0) {
  process.exit(1);
}
console.log(`${zig.length} ${objectiveC.length} ${linuxOnly.length}`);
