#!/usr/bin/env python3
"""Times orvane, the floor and the tools users pick instead on the same work.

Called by bench/run, which installs the tools and builds the programs. Wall
times come from hyperfine, one run per tool per round, the tools in a
different order each round, so that every tool meets the same state of the
machine. Peak memory comes from GNU time. The figures go into the part of
docs/benchmarks.md between its result markers, and a chart of the ratios into
docs/benchmarks.svg.
"""
import argparse
import csv
import datetime
import math
import os
import platform
import shlex
import shutil
import statistics
import subprocess
import time
from dataclasses import dataclass
from typing import Callable, List, NamedTuple

BACKGROUNDS = '/usr/share/backgrounds/mate'


class Tools(NamedTuple):
    """Each tool's name in the results, the tables and the chart, in the
    order they list the tools."""
    orvane: str = 'orvane'
    floor: str = 'floor'
    imagemagick: str = 'convert'
    graphicsmagick: str = 'gm'
    libvips: str = 'vips'


TOOLS = Tools()
BEGIN = '<!-- results:begin -->'
END = '<!-- results:end -->'


@dataclass(frozen=True)
class Case:
    """One piece of work, as each tool is told to do it."""
    name: str
    orvane_options: List[str]
    floor_edits: List[str]
    imagemagick_ops: List[str]
    graphicsmagick_ops: List[str]
    # The whole command, for (image, output with its save options, a
    # scratch file for chains).
    libvips_command: Callable[['Image', str, str], List[str]]
    # The output's extension; the input's own when empty.
    save_as: str = ''


# Rotation is counter-clockwise in orvane and libvips, clockwise in the other
# two. Resizes use the B-spline ("Cubic") filter where the tool has it.
CASES = [
    Case('re-save', orvane_options=[], floor_edits=[], imagemagick_ops=[],
         graphicsmagick_ops=[],
         libvips_command=lambda i, o, t: ['vips', 'copy', i.path, o]),
    Case('-w 800', orvane_options=['-w', '800'], floor_edits=['w800'],
         imagemagick_ops=['-filter', 'Cubic', '-resize', '800x'],
         graphicsmagick_ops=['-filter', 'Cubic', '-resize', '800x'],
         libvips_command=lambda i, o, t: [
             'vips', 'resize', i.path, o, '%.8f' % (800 / i.width)]),
    Case('-r 90', orvane_options=['-r', '90'], floor_edits=['r90'],
         imagemagick_ops=['-rotate', '-90'],
         graphicsmagick_ops=['-rotate', '-90'],
         libvips_command=lambda i, o, t: ['vips', 'rot', i.path, o, 'd270']),
    Case('-r 30', orvane_options=['-r', '30'], floor_edits=['r30'],
         imagemagick_ops=['-background', 'black', '-rotate', '-30'],
         graphicsmagick_ops=['-background', 'black', '-rotate', '-30'],
         libvips_command=lambda i, o, t: ['vips', 'rotate', i.path, o, '30']),
    Case('-fh', orvane_options=['-fh'], floor_edits=['fh'],
         imagemagick_ops=['-flop'], graphicsmagick_ops=['-flop'],
         libvips_command=lambda i, o, t: [
             'vips', 'flip', i.path, o, 'horizontal']),
    Case('-c 1000x800', orvane_options=['-c', '100', '100', '1000', '800'],
         floor_edits=['c100,100,1000,800'],
         imagemagick_ops=['-crop', '1000x800+100+100', '+repage'],
         graphicsmagick_ops=['-crop', '1000x800+100+100'],
         libvips_command=lambda i, o, t: [
             'vips', 'crop', i.path, o, '100', '100', '1000', '800']),
    Case('-o png', orvane_options=[], floor_edits=[], imagemagick_ops=[],
         graphicsmagick_ops=[],
         libvips_command=lambda i, o, t: ['vips', 'copy', i.path, o],
         save_as='.png'),
    Case('-r 90 -w 800', orvane_options=['-r', '90', '-w', '800'],
         floor_edits=['r90', 'w800'],
         imagemagick_ops=['-rotate', '-90', '-filter', 'Cubic', '-resize',
                          '800x'],
         graphicsmagick_ops=['-rotate', '-90', '-filter', 'Cubic', '-resize',
                             '800x'],
         libvips_command=lambda i, o, t: [
             'sh', '-c', 'vips rot %s %s d270 && vips resize %s %s %.8f'
             % (shlex.quote(i.path), shlex.quote(t), shlex.quote(t),
                shlex.quote(o), 800 / i.height)]),
]
SCALING_CASES = [c for c in CASES if c.name in ('-w 800', '-r 90')]


class Measured(NamedTuple):
    seconds: float    # median wall time
    kilobytes: float  # median peak memory


class Image:
    def __init__(self, name, path):
        self.name, self.path = name, path
        self.ext = os.path.splitext(path)[1].lower()
        self.width = int(output(['vipsheader', '-f', 'width', path]))
        self.height = int(output(['vipsheader', '-f', 'height', path]))

    @property
    def megapixels(self):
        return self.width * self.height / 1e6


def output(argv):
    return subprocess.run(argv, check=True, capture_output=True,
                          text=True).stdout.strip()


def commands(args, case, image):
    """The argv of every tool for one case on one image."""
    ext = case.save_as or image.ext
    out = os.path.join(args.work, 'out' + ext)
    if ext == '.png':  # zlib level 4: what the save flags 100 ask of the library
        magick_quality, vips_options = ['-quality', '45'], '[compression=4]'
    else:  # quality 100 with the library's 4:2:0 chroma subsampling
        magick_quality = ['-quality', '100', '-sampling-factor', '2x2']
        vips_options = '[Q=100,subsample-mode=on]'
    temp = os.path.join(args.work, 'chain.v')
    return {
        TOOLS.orvane: [args.orvane] + case.orvane_options +
                      ['-oq', '100', '-o', out, image.path],
        TOOLS.floor: [args.floor, image.path, out, '100'] + case.floor_edits,
        TOOLS.imagemagick: ['convert', image.path] + case.imagemagick_ops +
                           magick_quality + [out],
        TOOLS.graphicsmagick: ['gm', 'convert', image.path] +
                              case.graphicsmagick_ops + magick_quality + [out],
        TOOLS.libvips: case.libvips_command(image, out + vips_options, temp),
    }


def time_once(argvs, work):
    """Wall seconds of each command, run one after the other by hyperfine."""
    report = os.path.join(work, 'times.csv')
    subprocess.run(['hyperfine', '-N', '--runs', '1', '--style', 'none',
                    '--export-csv', report] +
                   [shlex.join(a) for a in argvs],
                   check=True, stdout=subprocess.DEVNULL)
    with open(report) as f:
        return [float(row['mean']) for row in csv.DictReader(f)]


def peak_kilobytes(argv, work):
    report = os.path.join(work, 'memory.txt')
    subprocess.run(['/usr/bin/time', '-f', '%M', '-o', report] + argv,
                   check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    with open(report) as f:
        return int(f.read().split()[-1])


def measure(jobs, runs, work, memory_runs=3, warm_up=True):
    """jobs: {key: {tool: argv}}. Returns {key: {tool: Measured}}.

    Round 0 warms the caches and is not counted; without warm_up, the
    caller has warmed them. With memory_runs 0, memory is not measured and
    given as 0."""
    times = {key: {tool: [] for tool in tools} for key, tools in jobs.items()}
    for round_number in range(0 if warm_up else 1, runs + 1):
        for key, tools in jobs.items():
            names = list(tools)
            shift = round_number % len(names)
            names = names[shift:] + names[:shift]
            seconds = time_once([tools[n] for n in names], work)
            if round_number > 0:
                for n, s in zip(names, seconds):
                    times[key][n].append(s)
        print('round %d of %d done' % (round_number, runs), flush=True)
    results = {}
    for key, tools in jobs.items():
        results[key] = {}
        for tool, argv in tools.items():
            memory = statistics.median(
                [peak_kilobytes(argv, work) for _ in range(memory_runs)] or [0])
            results[key][tool] = Measured(
                statistics.median(times[key][tool]), memory)
    return results


def check_orvane_matches_floor(args, jobs):
    """Orvane must produce byte for byte what the bare library calls do."""
    mismatches = []
    for key, tools in jobs.items():
        orvane, floor = tools[TOOLS.orvane], tools[TOOLS.floor]
        out = orvane[orvane.index('-o') + 1]  # the floor writes there too
        subprocess.run(floor, check=True)
        with open(out, 'rb') as f:
            floor_bytes = f.read()
        subprocess.run(orvane, check=True)
        with open(out, 'rb') as f:
            if f.read() != floor_bytes:
                mismatches.append(key)
    return mismatches


def inputs(args):
    elephants = os.path.join(BACKGROUNDS, 'abstract/Elephants_5640x3172.jpg')
    wood = os.path.join(BACKGROUNDS, 'nature/Wood.jpg')
    images = []
    for name, source in (('Elephants_5640x3172.jpg', elephants),
                         ('Wood.jpg', wood)):
        path = os.path.join(args.work, name)
        shutil.copy(source, path)
        images.append(Image(name, path))
    png = os.path.join(args.work, 'Wood.png')
    subprocess.run([args.orvane, '-o', png, images[1].path], check=True)
    images.append(Image('Wood.png (made from Wood.jpg)', png))
    return images


def scaled_inputs(args, base):
    images = []
    for megapixels in (1, 4, 16, 64):
        width = round(math.sqrt(megapixels * 1e6 * base.width / base.height))
        height = round(width * base.height / base.width)
        path = os.path.join(args.work, 'scaled-%d.jpg' % megapixels)
        subprocess.run([args.orvane, '-wh', str(width), str(height), '-o', path,
                        base.path], check=True)
        images.append(Image('%d MP' % megapixels, path))
    return images


def machine_facts(packages=('libfreeimage3', 'imagemagick', 'graphicsmagick',
                            'libvips-tools', 'hyperfine', 'mate-backgrounds')):
    def package(name):
        return output(['dpkg-query', '-W', '-f', '${Version}', name])
    cpu = 'unknown'
    with open('/proc/cpuinfo') as f:
        for line in f:
            if line.startswith('model name'):
                cpu = line.split(':', 1)[1].strip()
                break
    with open('/proc/meminfo') as f:
        memory = int(f.readline().split()[1]) / 2**20
    return [
        'Measured on %s.' % datetime.date.today().isoformat(),
        'Machine: %s, %d cores, %.0f GiB, Linux %s, %s.' % (
            cpu, os.cpu_count(), memory, platform.release(),
            output(['sh', '-c', '. /etc/os-release && echo "$PRETTY_NAME"'])),
        'Packages: %s.' % ', '.join('%s %s' % (p, package(p))
                                    for p in packages),
    ]


def ratio(a, b):
    return '%.2f' % (a / b)


def comparison_table(image, results):
    lines = [
        '| Case | Tool | Median time (s) | x floor | x orvane | '
        'Peak memory (MB) | Memory x floor |',
        '|---|---|---:|---:|---:|---:|---:|']
    for case in CASES:
        r = results[(image.name, case.name)]
        floor_s, floor_kb = r[TOOLS.floor]
        orvane_s = r[TOOLS.orvane].seconds
        for tool in TOOLS:
            s, kb = r[tool]
            lines.append('| %s | %s | %.3f | %s | %s | %.0f | %s |' % (
                case.name if tool == TOOLS.orvane else '', tool, s,
                ratio(s, floor_s), ratio(s, orvane_s), kb / 1024,
                ratio(kb, floor_kb)))
    return lines


def targets_table(images, results):
    lines = ['| Input | Case | Time x floor | Memory x floor | '
             'Faster than %s | Faster than %s |' % (TOOLS.imagemagick,
                                                    TOOLS.graphicsmagick),
             '|---|---|---:|---:|---|---|']
    for image in images:
        for case in CASES:
            r = results[(image.name, case.name)]
            orvane, floor = r[TOOLS.orvane], r[TOOLS.floor]
            time_ratio = orvane.seconds / floor.seconds
            memory_ratio = orvane.kilobytes / floor.kilobytes
            lines.append('| %s | %s | %.3f%s | %.3f%s | %s | %s |' % (
                image.name, case.name, time_ratio,
                '' if time_ratio <= 1.03 else ' (missed)', memory_ratio,
                '' if memory_ratio <= 1.05 else ' (missed)',
                'yes' if orvane.seconds < r[TOOLS.imagemagick].seconds
                else 'no',
                'yes' if orvane.seconds < r[TOOLS.graphicsmagick].seconds
                else 'no'))
    return lines


def scaling_table(images, results):
    lines = ['| Size | Pixels | Case | orvane (s) | floor (s) | x floor | '
             'orvane (MB) | floor (MB) | MB per megapixel |',
             '|---|---:|---|---:|---:|---:|---:|---:|---:|']
    for image in images:
        for case in SCALING_CASES:
            r = results[(image.name, case.name)]
            (os_, okb), (fs, fkb) = r[TOOLS.orvane], r[TOOLS.floor]
            lines.append('| %s | %dx%d | %s | %.3f | %.3f | %s | %.0f | %.0f '
                         '| %.1f |' % (image.name, image.width, image.height,
                                       case.name, os_, fs, ratio(os_, fs),
                                       okb / 1024, fkb / 1024,
                                       okb / 1024 / image.megapixels))
    return lines


def write_chart(args, images, results):
    """Grouped bars of each tool's time over the floor's, one panel a photo."""
    data = os.path.join(args.work, 'chart.dat')
    with open(data, 'w') as f:
        for image in images:
            # The first line of a block names its columns, for the key.
            f.write(' '.join(['case', *TOOLS]) + '\n')
            for case in CASES:
                r = results[(image.name, case.name)]
                f.write('"%s" %s\n' % (case.name, ' '.join(
                    '%.4f' % (r[t].seconds / r[TOOLS.floor].seconds)
                    for t in TOOLS)))
            f.write('\n\n')
    panels = []
    for index, image in enumerate(images):
        panels.append(
            "set title '%s'\n"
            "plot for [c=2:%d] '%s' index %d using c:xtic(1) title columnhead(c)"
            % (image.name, len(TOOLS) + 1, data, index))
    script = """
set terminal svg size 960,1200 dynamic noenhanced font 'sans,11' background '#ffffff'
set output '%s'
set multiplot layout %d,1 title "Wall time relative to the bare library calls (floor = 1; lower is faster; log scale)"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set logscale y 2
set yrange [0.25:*]
set ytics (0.25, 0.5, 1, 2, 4, 8, 16, 32)
set grid ytics
set key top left horizontal
set xtics nomirror
set ylabel 'x floor'
%s
unset multiplot
""" % (args.chart, len(images), '\n'.join(panels))
    with open(os.path.join(args.work, 'chart.gp'), 'w') as f:
        f.write(script)
    subprocess.run(['gnuplot', os.path.join(args.work, 'chart.gp')],
                   check=True)


def write_markdown(args, images, scaled, results, scaling, mismatches):
    lines = [BEGIN, '']
    lines += machine_facts()
    lines += ['', 'Median over %d runs of each tool per case; peak memory is '
              'the median of 3 runs.' % args.runs, '']
    lines += ['### Targets: orvane against the floor, and against the tools '
              'users pick instead', '']
    lines += targets_table(images, results)
    lines += ['', 'Orvane wrote byte-identical output to the floor in every '
              'case.' if not mismatches else
              'Output differed from the floor in: ' + ', '.join(
                  '%s %s' % k for k in mismatches), '']
    for image in images:
        lines += ['### %s, %dx%d (%.1f megapixels)' % (
            image.name, image.width, image.height, image.megapixels), '']
        lines += comparison_table(image, results) + ['']
    lines += ['### How cost grows with the picture', '',
              'Elephants_5640x3172.jpg scaled by orvane (-wh) to each size.', '']
    lines += scaling_table(scaled, scaling) + ['', END]
    text = open(args.markdown).read() if os.path.exists(args.markdown) else (
        '# Benchmarks\n\n' + BEGIN + '\n' + END + '\n')
    before, rest = text.split(BEGIN, 1)
    after = rest.split(END, 1)[1]
    with open(args.markdown, 'w') as f:
        f.write(before + '\n'.join(lines) + after)


# Orvane.exe under Wine against the Linux build (bench/wine).
WINE_BEGIN = '<!-- wine:begin -->'
WINE_END = '<!-- wine:end -->'
START_UP = 'start-up'


def windows_path(path):
    """The name a Windows program under Wine knows a Unix file by."""
    return 'Z:' + path.replace('/', '\\')


def wine_commands(args, case, image):
    """The argv of each build for one case, and the file each writes."""
    ext = case.save_as or image.ext
    options = case.orvane_options + ['-oq', '100', '-o']
    linux_out = os.path.join(args.work, 'linux' + ext)
    wine_out = os.path.join(args.work, 'wine' + ext)
    argvs = {'linux': [args.orvane] + options + [linux_out, image.path],
             'wine': [args.wine, args.orvane_exe] + options +
                     [windows_path(wine_out), windows_path(image.path)]}
    return argvs, (linux_out, wine_out)


def outputs_differ(args, images):
    """The cases where the two builds wrote different bytes."""
    differ = []
    for image in images:
        for case in CASES:
            argvs, outs = wine_commands(args, case, image)
            contents = []
            for argv, out in zip(argvs.values(), outs):
                subprocess.run(argv, check=True)
                with open(out, 'rb') as f:
                    contents.append(f.read())
            if contents[0] != contents[1]:
                differ.append((image.name, case.name))
    return differ


def wine_table(images, results):
    """Each case's times, and the ratio once each system's own start-up, the
    time a program that does nothing takes, is taken out."""
    linux_start = results[('', START_UP)]['linux'].seconds
    wine_start = results[('', START_UP)]['wine'].seconds
    lines = ['| Input | Case | Linux (s) | Wine (s) | Wine less its start-up '
             '(s) | Ratio |', '|---|---|---:|---:|---:|---:|']
    ratios = []
    for image in images:
        for case in CASES:
            r = results[(image.name, case.name)]
            linux, wine = r['linux'].seconds, r['wine'].seconds
            ratios.append((wine - wine_start) / (linux - linux_start))
            lines.append('| %s | %s | %.3f | %.3f | %.3f | %.2f |' % (
                image.name, case.name, linux, wine, wine - wine_start,
                ratios[-1]))
    return lines, ratios


def replace_section(markdown, begin, end, lines):
    """Puts lines in place of the part of the file from begin to end; the
    lines carry both marks themselves."""
    text = open(markdown).read()
    before, rest = text.split(begin, 1)
    after = rest.split(end, 1)[1]
    with open(markdown, 'w') as f:
        f.write(before + '\n'.join(lines) + after)


def write_wine_markdown(args, images, results, differ):
    start = results[('', START_UP)]
    with open(args.dll_versions) as f:
        versions = f.read().strip()
    table, ratios = wine_table(images, results)
    lines = [WINE_BEGIN, '']
    lines += machine_facts(('libfreeimage3', 'wine64', 'hyperfine',
                            'mate-backgrounds'))
    lines += ['', 'The Windows build, Orvane.exe with:', '', '```', versions,
              '```', '',
              'Median over %d runs of each build per case. A program that '
              'does nothing takes %.1f ms to run on Linux and %.1f ms under '
              'Wine; the ratio is (Wine - %.1f ms) / (Linux - %.1f ms).' % (
                  args.runs, start['linux'].seconds * 1e3,
                  start['wine'].seconds * 1e3, start['wine'].seconds * 1e3,
                  start['linux'].seconds * 1e3), '']
    lines += table
    lines += ['', 'Ratio over the %d cases: median %.2f, from %.2f to %.2f.' % (
        len(ratios), statistics.median(ratios), min(ratios), max(ratios)), '',
        'Orvane.exe wrote byte-identical output to the Linux build in every '
        'case.' if not differ else 'Output differed from the Linux build '
        'in: ' + ', '.join('%s %s' % k for k in differ), '', WINE_END]
    replace_section(args.markdown, WINE_BEGIN, WINE_END, lines)


def main_wine(args):
    images = [image for image in inputs(args)
              if not args.photos or image.name.split()[0] in args.photos]
    differ = outputs_differ(args, images)
    jobs = {('', START_UP): {'linux': [args.empty],
                             'wine': [args.wine, args.empty_exe]}}
    for image in images:
        for case in CASES:
            jobs[(image.name, case.name)] = wine_commands(args, case, image)[0]
    results = measure(jobs, args.runs, args.work, memory_runs=0)
    write_wine_markdown(args, images, results, differ)


# -lossless against the same line without it, the floor's re-encoding and
# jpegtran doing the same single transform (bench/lossless).
LOSSLESS_BEGIN = '<!-- lossless:begin -->'
LOSSLESS_END = '<!-- lossless:end -->'
LOSSLESS = 'orvane -lossless'
REENCODED = 'orvane'
JPEGTRAN = 'jpegtran'
JPEGTRAN_BASELINE = 'jpegtran, baseline'


@dataclass(frozen=True)
class LosslessCase:
    """One edit that -lossless can do, as each program is told to do it."""
    photo: str  # under BACKGROUNDS
    options: List[str]
    floor_edits: List[str]
    jpegtran: List[str]  # jpegtran turns clockwise, and crops the result
    # The edit made on the decoded photo, by Pillow's names of transposes.
    crop: tuple
    transpose: str
    # Coded again first as baseline with optimised tables (jpegtran -copy
    # all -optimize), as a camera's photo is.
    baseline: bool = False

    def key(self):
        return ' '.join([self.photo] + self.options +
                        (['baseline'] if self.baseline else []))

    def name(self):
        return os.path.basename(self.photo) + (', made baseline'
                                               if self.baseline else '')


# Whole blocks of 16 x 8 turned; the photo's partial blocks at the right and
# bottom would have to move, so the crop leaves them out. jpegtran leaves
# them where they were, so its crop of the turned picture is the same.
ELEPHANTS_TURNED = dict(
    photo='abstract/Elephants_5640x3172.jpg',
    options=['-c', '0', '0', '5632', '3168', '-r', '90'],
    floor_edits=['c0,0,5632,3168', 'r90'],
    jpegtran=['-rotate', '270', '-crop', '3168x5632+0+0'],
    crop=(0, 0, 5632, 3168), transpose='ROTATE_90')
LOSSLESS_CASES = [
    LosslessCase(**ELEPHANTS_TURNED),  # progressive
    LosslessCase(**ELEPHANTS_TURNED, baseline=True),
    LosslessCase('abstract/Elephants_5640x3172.jpg',
                 ['-c', '0', '0', '5632', '3172', '-fh'],
                 ['c0,0,5632,3172', 'fh'],
                 ['-flip', 'horizontal', '-crop', '5632x3172+0+0'],
                 (0, 0, 5632, 3172), 'FLIP_LEFT_RIGHT', baseline=True),
    LosslessCase('nature/Wood.jpg', ['-r', '90'], ['r90'], ['-rotate', '270'],
                 None, 'ROTATE_90'),
    LosslessCase('nature/Wood.jpg', ['-fh'], ['fh'],
                 ['-flip', 'horizontal'], None, 'FLIP_LEFT_RIGHT'),
]


def frame(path):
    """(marker, width, height) of a JPEG's frame header, by its markers;
    marker 0 when there is none."""
    with open(path, 'rb') as f:
        data = f.read()
    at = 2
    while at + 9 <= len(data) and data[at] == 0xFF:
        marker = data[at + 1]
        if marker in (0xC0, 0xC1, 0xC2):
            return (marker, int.from_bytes(data[at + 7:at + 9], 'big'),
                    int.from_bytes(data[at + 5:at + 7], 'big'))
        at += 2 + int.from_bytes(data[at + 2:at + 4], 'big')
    return 0, 0, 0


def progressive(path):
    """Whether a JPEG's frame is progressive (SOF2)."""
    return frame(path)[0] == 0xC2


def lossless_commands(args, case, photo):
    """The argv of every program for one case, and the file each writes."""
    outs = {name: os.path.join(args.work, '%d.jpg' % i) for i, name in
            enumerate((LOSSLESS, REENCODED, TOOLS.floor, JPEGTRAN,
                       JPEGTRAN_BASELINE))}
    # With optimised tables, as Orvane codes a baseline result.
    jpegtran = ['jpegtran', '-copy', 'all', '-optimize'] + case.jpegtran
    argvs = {
        LOSSLESS: [args.orvane, '-lossless'] + case.options +
                  ['-o', outs[LOSSLESS], photo],
        REENCODED: [args.orvane] + case.options +
                   ['-oq', '100', '-o', outs[REENCODED], photo],
        TOOLS.floor: [args.floor, photo, outs[TOOLS.floor], '100'] +
                     case.floor_edits,
        JPEGTRAN: jpegtran + (['-progressive'] if progressive(photo) else []) +
                  ['-outfile', outs[JPEGTRAN], photo],
    }
    if progressive(photo):  # what keeping it progressive costs
        argvs[JPEGTRAN_BASELINE] = jpegtran + ['-outfile',
                                               outs[JPEGTRAN_BASELINE], photo]
    return argvs, outs


def decoded(path, *options):
    """The picture as djpeg decodes it."""
    from PIL import Image  # only this comparison needs Pillow
    import io
    done = subprocess.run(['djpeg'] + list(options) + ['-pnm', path],
                          check=True, capture_output=True)
    return Image.open(io.BytesIO(done.stdout)).convert('RGB')


def differences(a, b):
    """(samples that differ, largest difference) of two pictures."""
    from PIL import ImageChops
    histogram = ImageChops.difference(a, b).histogram()
    counts = [sum(histogram[band * 256 + v] for band in range(3))
              for v in range(256)]
    return sum(counts[1:]), max(v for v in range(256) if counts[v])


def lossless_checks(case, photo, outs):
    """What the lossless output is: jpegtran's blocks or not, and how far
    it decodes from the edit made on the decoded photo."""
    from PIL import Image
    same = decoded(outs[LOSSLESS]).tobytes() == \
        decoded(outs[JPEGTRAN]).tobytes()
    checks = {'same as jpegtran': same}
    for name, options in (('float DCT, no fancy upsampling',
                           ('-dct', 'float', '-nosmooth')),
                          ("djpeg's defaults", ())):
        picture = decoded(photo, *options)
        if case.crop:
            picture = picture.crop(case.crop)
        picture = picture.transpose(getattr(Image.Transpose, case.transpose))
        checks[name] = differences(picture, decoded(outs[LOSSLESS], *options))
    return checks


def refusal(args, photo):
    """The first line Orvane gives for -lossless -r 90 on the whole photo."""
    done = subprocess.run([args.orvane, '-lossless', '-r', '90', '-o',
                           os.path.join(args.work, 'refused.jpg'), photo],
                          capture_output=True, text=True)
    return done.returncode, done.stderr.strip().splitlines()[0]


def lossless_table(results, sizes, photos):
    lines = ['| Photo | Edit | Program | Median time (s) | x -lossless | '
             'Peak memory (MB) | Output (MB) | Output x input |',
             '|---|---|---|---:|---:|---:|---:|---:|']
    for case in LOSSLESS_CASES:
        r = results[case.key()]
        first = True
        for name, (seconds, kb) in r.items():
            size = sizes[case.key()][name]
            lines.append('| %s | %s | %s | %.3f | %.2f | %.0f | %.2f | %.3f |'
                         % (case.name() if first else '',
                            ' '.join(case.options) if first else '', name,
                            seconds, seconds / r[LOSSLESS].seconds,
                            kb / 1024, size / 1e6,
                            size / os.path.getsize(photos[case.key()])))
            first = False
    return lines


def lossless_verdicts(case, r, sizes, photo, checks):
    grew = sizes[LOSSLESS] / os.path.getsize(photo) - 1
    ratio = r[LOSSLESS].seconds / r[JPEGTRAN].seconds
    against_jpegtran = sizes[LOSSLESS] / sizes[JPEGTRAN] - 1
    exact, exact_largest = checks['float DCT, no fancy upsampling']
    usual, usual_largest = checks["djpeg's defaults"]
    return [
        '- %s, `-lossless %s`:' % (case.name(), ' '.join(case.options)),
        '  - the same blocks as jpegtran (both decode alike): %s' %
        ('yes' if checks['same as jpegtran'] else 'NO'),
        '  - against the edit made on the decoded photo: %d samples differ, '
        'by at most %d, decoded with the float DCT and without fancy '
        'upsampling; %d, by at most %d, with djpeg\'s defaults' %
        (exact, exact_largest, usual, usual_largest),
        '  - %.2f times the time of the same line without -lossless (%s)' %
        (r[LOSSLESS].seconds / r[REENCODED].seconds,
         'faster' if r[LOSSLESS].seconds < r[REENCODED].seconds
         else 'NOT faster'),
        '  - %.2f times jpegtran\'s time (%s 5%%)' %
        (ratio, 'within' if ratio <= 1.05 else 'NOT within'),
        '  - output %+.2f%% against jpegtran\'s, metadata copied by both '
        '(%s 0.1%% larger)' %
        (100 * against_jpegtran,
         'no more than' if against_jpegtran <= 0.001 else 'MORE than'),
        '  - output %+.2f%% against the input (%s 2%% larger)' %
        (100 * grew, 'no more than' if grew <= 0.02 else 'MORE than'),
    ]


def write_lossless_markdown(args, results, sizes, photos, checks, refused):
    lines = [LOSSLESS_BEGIN, '']
    lines += machine_facts(('libfreeimage3', 'libturbojpeg0',
                            'libjpeg-turbo-progs', 'hyperfine',
                            'mate-backgrounds'))
    lines += ['', 'Median over %d runs of each program per case; peak '
              'memory is the median of 3 runs.' % args.runs, '']
    lines += lossless_table(results, sizes, photos) + ['']
    status, first = refused
    lines += ['The whole Elephants photo turned, `-lossless -r 90`: status '
              '%d, "%s"' % (status, first), '']
    for case in LOSSLESS_CASES:
        lines += lossless_verdicts(case, results[case.key()],
                                   sizes[case.key()], photos[case.key()],
                                   checks[case.key()])
    lines += ['', LOSSLESS_END]
    replace_section(args.markdown, LOSSLESS_BEGIN, LOSSLESS_END, lines)


def lossless_photo(args, case):
    """The case's photo in the work folder, made baseline if it says so."""
    name = os.path.basename(case.photo)
    original = os.path.join(BACKGROUNDS, case.photo)
    if not case.baseline:
        photo = os.path.join(args.work, name)
        shutil.copy(original, photo)
        return photo
    photo = os.path.join(args.work, 'baseline-' + name)
    subprocess.run(['jpegtran', '-copy', 'all', '-optimize', '-outfile',
                    photo, original], check=True)
    return photo


def main_lossless(args):
    photos, jobs, outs = {}, {}, {}
    for i, case in enumerate(LOSSLESS_CASES):
        key = case.key()
        photos[key] = lossless_photo(args, case)
        case_work = os.path.join(args.work, 'case%d' % i)
        os.makedirs(case_work, exist_ok=True)
        jobs[key], outs[key] = lossless_commands(
            argparse.Namespace(**dict(vars(args), work=case_work)), case,
            photos[key])
    results = measure(jobs, args.runs, args.work)
    sizes, checks = {}, {}
    for case in LOSSLESS_CASES:
        key = case.key()
        for argv in jobs[key].values():  # the outputs of one run each
            subprocess.run(argv, check=True)
        sizes[key] = {name: os.path.getsize(outs[key][name])
                      for name in jobs[key]}
        checks[key] = lossless_checks(case, photos[key], outs[key])
    refused = refusal(args, photos[LOSSLESS_CASES[0].key()])
    write_lossless_markdown(args, results, sizes, photos, checks, refused)


# Thumbnails: a resize first, where a JPEG can be decoded at a reduced
# scale, on the large photo and on a 749-megapixel one made at bench time,
# against vipsthumbnail, ImageMagick and GraphicsMagick (bench/thumbnails).
THUMBNAILS_BEGIN = '<!-- thumbnails:begin -->'
THUMBNAILS_END = '<!-- thumbnails:end -->'
ORVANE_FULL = 'orvane, full decode'
FLOOR_REDUCED = 'floor, reduced decode'
VIPSTHUMBNAIL = 'vipsthumbnail'
IMAGEMAGICK_HINTED = 'convert, jpeg:size'
GRAPHICSMAGICK_HINTED = 'gm, -size'
# Debian's, by its full name: a convert earlier on PATH is not ImageMagick's.
IMAGEMAGICK = '/usr/bin/convert'
THUMBNAIL_SIZES = (('-w 800', 800, 0), ('-h 128', 0, 128))
# The made photo: Elephants turned on its side, cut to these proportions and
# enlarged bilinearly, with a little noise, coded by cjpeg. Its file name
# carries every parameter, so a cached copy is the same picture.
BIG_WIDTH, BIG_HEIGHT, BIG_QUALITY, BIG_NOISE = 22500, 33300, 90, 1.5
BIG_BAND = 256  # rows made at a time: the picture is streamed, never held


@dataclass(frozen=True)
class ThumbnailInput:
    name: str
    path: str
    width: int
    height: int
    big: bool  # fewer runs, and a time limit for each tool

    @property
    def megapixels(self):
        return self.width * self.height / 1e6


def target(width, height, sides):
    """The size orvane resizes a width x height picture to (ResizeTarget)."""
    w, h = sides
    if w <= 0:
        w = max(1, width * h // height)
    if h <= 0:
        h = max(1, height * w // width)
    return w, h


# Orvane keeps three times the resize's target on each side of a reduced
# decode.
MARGIN = 3


def wanted_side(width, height, w, h):
    """The longer side the JPEG load is asked for: MARGIN times the target
    on each side, in the photo's proportions."""
    longer = max(width, height)
    return max(-(-MARGIN * w * longer // width),
               -(-MARGIN * h * longer // height))


def reduction(width, height, side):
    """The scale the library decodes at for that request: the largest of
    1/8, 1/4 and 1/2 whose longer side is at least side (PluginJPEG)."""
    longer = max(width, height)
    for denominator in (8, 4, 2):
        if longer // denominator >= side:
            return denominator
    return 1


def jpeg_size(path):
    return frame(path)[1:]


def write_big_pixels(out):
    """Streams the made photo as PPM to out, BIG_BAND rows at a time."""
    import numpy
    from PIL import Image
    source = Image.open(os.path.join(
        BACKGROUNDS, 'abstract/Elephants_5640x3172.jpg')).convert('RGB')
    source = source.transpose(Image.Transpose.ROTATE_90)
    # Cut to the made photo's proportions, then enlarged.
    rows = round(source.width * BIG_HEIGHT / BIG_WIDTH)
    top = (source.height - rows) // 2
    source = numpy.asarray(source.crop((0, top, source.width, top + rows)),
                           dtype=numpy.float32)
    sh, sw = source.shape[:2]

    def taps(size, source_size):
        at = numpy.clip((numpy.arange(size) + 0.5) * source_size / size - 0.5,
                        0, source_size - 1)
        first = numpy.floor(at).astype(numpy.intp)
        return first, numpy.minimum(first + 1, source_size - 1), \
            (at - first).astype(numpy.float32)

    x0, x1, fx = taps(BIG_WIDTH, sw)
    fx = fx[None, :, None]
    y0, y1, fy = taps(BIG_HEIGHT, sh)
    noise = numpy.random.default_rng(1).normal(
        0, BIG_NOISE, (BIG_BAND, BIG_WIDTH, 3)).astype(numpy.float32)
    out.write(b'P6\n%d %d\n255\n' % (BIG_WIDTH, BIG_HEIGHT))
    for y in range(0, BIG_HEIGHT, BIG_BAND):
        band = slice(y, min(y + BIG_BAND, BIG_HEIGHT))
        f = fy[band][:, None, None]
        lines = source[y0[band]] * (1 - f) + source[y1[band]] * f
        pixels = lines[:, x0] * (1 - fx) + lines[:, x1] * fx
        pixels += noise[:pixels.shape[0]]
        numpy.clip(pixels, 0, 255, out=pixels)
        out.write(pixels.astype(numpy.uint8).tobytes())


def big_inputs(args):
    """The made photo, baseline and progressive (the same coefficients),
    from the cache when they are there."""
    os.makedirs(args.cache, exist_ok=True)
    stem = os.path.join(args.cache, 'made-%dx%d-q%d-noise%g' % (
        BIG_WIDTH, BIG_HEIGHT, BIG_QUALITY, BIG_NOISE))
    baseline, progressive_ = stem + '-baseline.jpg', stem + '-progressive.jpg'
    if not os.path.exists(baseline):
        print('making %s' % baseline, flush=True)
        with open(baseline + '.part', 'wb') as f:
            coder = subprocess.Popen(['cjpeg', '-quality', str(BIG_QUALITY),
                                      '-optimize'], stdin=subprocess.PIPE,
                                     stdout=f)
            write_big_pixels(coder.stdin)
            coder.stdin.close()
            if coder.wait() != 0:
                raise RuntimeError('cjpeg failed')
        os.rename(baseline + '.part', baseline)
    if not os.path.exists(progressive_):
        print('making %s' % progressive_, flush=True)
        subprocess.run(['jpegtran', '-copy', 'all', '-progressive', '-outfile',
                        progressive_ + '.part', baseline], check=True)
        os.rename(progressive_ + '.part', progressive_)
    return [ThumbnailInput('made, baseline', baseline, BIG_WIDTH, BIG_HEIGHT,
                           True),
            ThumbnailInput('made, progressive', progressive_, BIG_WIDTH,
                           BIG_HEIGHT, True)]


def thumbnail_inputs(args):
    elephants = os.path.join(args.work, 'Elephants_5640x3172.jpg')
    shutil.copy(os.path.join(BACKGROUNDS, 'abstract/Elephants_5640x3172.jpg'),
                elephants)
    baseline = os.path.join(args.work, 'Elephants-baseline.jpg')
    subprocess.run(['jpegtran', '-copy', 'all', '-optimize', '-outfile',
                    baseline, elephants], check=True)
    inputs_ = [ThumbnailInput('Elephants_5640x3172.jpg', elephants, 5640, 3172,
                              False),
               ThumbnailInput('Elephants, baseline', baseline, 5640, 3172,
                              False)]
    if not args.small_only:
        inputs_ += big_inputs(args)
    for image in inputs_:
        assert jpeg_size(image.path) == (image.width, image.height)
    return inputs_


def thumbnail_commands(args, image, sides):
    """The argv of every tool for one size on one photo, and the file each
    writes."""
    w, h = target(image.width, image.height, sides)
    side = wanted_side(image.width, image.height, w, h)
    # Orvane rounds the other side down, the others to the nearest: each
    # is given both sides, forced ('!'), so that all write the same size.
    resize = '%dx%d!' % (w, h)
    options = ['-w', str(sides[0])] if sides[0] else ['-h', str(sides[1])]
    hint = '%dx%d' % (MARGIN * w, MARGIN * h)  # what orvane asks of the load
    names = (TOOLS.orvane, ORVANE_FULL, TOOLS.floor, FLOOR_REDUCED,
             VIPSTHUMBNAIL, TOOLS.imagemagick, IMAGEMAGICK_HINTED,
             TOOLS.graphicsmagick, GRAPHICSMAGICK_HINTED)
    outs = {name: os.path.join(args.work, 'thumb%d.jpg' % i)
            for i, name in enumerate(names)}
    quality = ['-quality', '100', '-sampling-factor', '2x2']
    magick = ['-filter', 'Cubic', '-resize', resize] + quality
    argvs = {
        TOOLS.orvane: [args.orvane] + options + ['-oq', '100', '-o',
                                                 outs[TOOLS.orvane],
                                                 image.path],
        # A crop of the whole picture first keeps the full decode.
        ORVANE_FULL: [args.orvane, '-c', '0', '0', str(image.width),
                      str(image.height)] + options +
                     ['-oq', '100', '-o', outs[ORVANE_FULL], image.path],
        TOOLS.floor: [args.floor, image.path, outs[TOOLS.floor], '100',
                      options[0][1] + options[1]],
        FLOOR_REDUCED: [args.floor, '-s', str(side), image.path,
                        outs[FLOOR_REDUCED], '100', 'w%dx%d' % (w, h)],
        VIPSTHUMBNAIL: ['vipsthumbnail', image.path, '-s', resize, '-o',
                        outs[VIPSTHUMBNAIL] + '[Q=100,subsample-mode=on]'],
        TOOLS.imagemagick: [IMAGEMAGICK, image.path] + magick +
                           [outs[TOOLS.imagemagick]],
        IMAGEMAGICK_HINTED: [IMAGEMAGICK, '-define', 'jpeg:size=' + hint,
                             image.path] + magick + [outs[IMAGEMAGICK_HINTED]],
        TOOLS.graphicsmagick: ['gm', 'convert', image.path] + magick +
                              [outs[TOOLS.graphicsmagick]],
        GRAPHICSMAGICK_HINTED: ['gm', 'convert', '-size', hint, image.path] +
                               magick + [outs[GRAPHICSMAGICK_HINTED]],
    }
    return argvs, outs


class Probe(NamedTuple):
    """One run of a tool, before the timed ones: whether it worked."""
    status: str         # 'ok', 'timed out' or 'failed'
    kilobytes: float    # peak memory of that run
    said: str           # a failure's first line
    size: tuple         # the output's width and height


def probe(argv, out, work, limit):
    report = os.path.join(work, 'memory.txt')
    if os.path.exists(out):
        os.remove(out)
    try:
        done = subprocess.run(['/usr/bin/time', '-f', '%M', '-o', report] +
                              argv, capture_output=True, text=True,
                              timeout=limit)
    except subprocess.TimeoutExpired:
        return Probe('timed out', 0, 'over %d s' % limit, None)
    if done.returncode != 0 or not os.path.exists(out):
        said = (done.stderr.strip().splitlines() or ['status %d' %
                                                     done.returncode])[0]
        # ImageMagick's words, without the file name and its source line.
        return Probe('failed', 0, said.split(' `')[0], None)
    with open(report) as f:
        kilobytes = int(f.read().split()[-1])
    return Probe('ok', kilobytes, '', jpeg_size(out))


def same_pixels(a, b):
    from PIL import Image
    return Image.open(a).tobytes() == Image.open(b).tobytes()


def thumbnail_table(images, probes, results):
    lines = ['| Photo | Size | Program | Median time (s) | x vipsthumbnail | '
             'Peak memory (MB) | Memory x vipsthumbnail | Output |',
             '|---|---|---|---:|---:|---:|---:|---|']
    for image in images:
        for size, *_ in THUMBNAIL_SIZES:
            key = (image.name, size)
            vips = results[key].get(VIPSTHUMBNAIL)
            first = True
            for tool, p in probes[key].items():
                cells = [image.name if first else '', size if first else '',
                         tool]
                first = False
                if p.status != 'ok':
                    cells += ['%s: %s' % (p.status, p.said.replace('|', '/')),
                              '', '', '', '']
                else:
                    s, kb = results[key][tool]
                    cells += ['%.3f' % s,
                              ratio(s, vips.seconds) if vips else '',
                              '%.0f' % (kb / 1024),
                              ratio(kb, vips.kilobytes) if vips else '',
                              '%dx%d' % p.size]
                lines.append('| ' + ' | '.join(cells) + ' |')
    return lines


def thumbnail_verdicts(images, results, checks):
    lines = []
    for image in images:
        for size, *sides in THUMBNAIL_SIZES:
            key = (image.name, size)
            w, h = target(image.width, image.height, sides)
            d = reduction(image.width, image.height,
                          wanted_side(image.width, image.height, w, h))
            r = results[key]
            parts = ['%s, `%s` (%dx%d, decoded at 1/%d by a shrink on load)' %
                     (image.name, size, w, h, d)]
            if TOOLS.orvane in r and VIPSTHUMBNAIL in r:
                parts.append('orvane / vipsthumbnail: time %.2f, memory %.2f'
                             % (r[TOOLS.orvane].seconds /
                                r[VIPSTHUMBNAIL].seconds,
                                r[TOOLS.orvane].kilobytes /
                                r[VIPSTHUMBNAIL].kilobytes))
            if TOOLS.orvane in r and ORVANE_FULL in r:
                parts.append('orvane / its full decode: time %.2f' % (
                    r[TOOLS.orvane].seconds / r[ORVANE_FULL].seconds))
            parts += ['%s: %s' % (what, 'yes' if same else 'NO')
                      for what, same in checks[key]]
            lines.append('- ' + '; '.join(parts))
    return lines


def psnr(a, b):
    import numpy
    error = numpy.asarray(a, dtype=numpy.float64) - numpy.asarray(
        b, dtype=numpy.float64)
    mse = float(numpy.mean(error * error))
    return float('inf') if mse == 0 else 10 * math.log10(255 ** 2 / mse)


def picture_quality(args):
    """PSNR of orvane's thumbnails, with its shrink on load and with the
    full decode, against a Lanczos resize of libjpeg's accurate decode."""
    from PIL import Image
    import glob
    rows = []
    for photo in sorted(glob.glob(os.path.join(BACKGROUNDS, '*/*.jpg'))):
        width, height = jpeg_size(photo)
        reference = decoded(photo)
        row = [os.path.relpath(photo, BACKGROUNDS), width, height]
        for size, *sides in THUMBNAIL_SIZES:
            options = ['-w', str(sides[0])] if sides[0] else \
                ['-h', str(sides[1])]
            w, h = target(width, height, sides)
            made = []
            # PNG: the thumbnail's own encoding stays out of the comparison.
            for crop in ([], ['-c', '0', '0', str(width), str(height)]):
                out = os.path.join(args.work, 'quality.png')
                subprocess.run([args.orvane] + crop + options + ['-o', out,
                                                                 photo],
                               check=True)
                made.append(Image.open(out).convert('RGB'))
                made[-1].load()
            lanczos = reference.resize(made[0].size, Image.Resampling.LANCZOS)
            row.append((reduction(width, height, wanted_side(
                width, height, w, h)), made[0].size == (w, h),
                psnr(made[0], lanczos), psnr(made[1], lanczos)))
        rows.append(row)
    return rows


def quality_table(rows):
    head = '| Photo | Pixels |'
    rule = '|---|---:|'
    for size, *_ in THUMBNAIL_SIZES:
        head += ' %s: scale | orvane (dB) | full decode (dB) | difference |' \
            % size
        rule += '---:|---:|---:|---:|'
    lines = [head, rule]
    differences_ = {size: [] for size, *_ in THUMBNAIL_SIZES}
    for photo, width, height, *sizes in rows:
        cells = [photo, '%dx%d' % (width, height)]
        for (size, *_), (d, right_size, shrunk, full) in zip(THUMBNAIL_SIZES,
                                                              sizes):
            differences_[size].append(shrunk - full)
            cells += ['1/%d%s' % (d, '' if right_size else ' (wrong size)'),
                      '%.2f' % shrunk, '%.2f' % full, '%+.2f' % (shrunk - full)]
        lines.append('| ' + ' | '.join(cells) + ' |')
    lines += [''] + ['%s: orvane minus its full decode, median %+.2f dB, from '
                     '%+.2f to %+.2f.' % (size, statistics.median(d), min(d),
                                          max(d))
                     for size, d in differences_.items()]
    return lines


def main_thumbnails(args):
    images = thumbnail_inputs(args)
    probes, jobs, results, checks = {}, {}, {}, {}
    for image in images:
        for size, *sides in THUMBNAIL_SIZES:
            key = (image.name, size)
            argvs, outs = thumbnail_commands(args, image, sides)
            limit = args.big_timeout if image.big else args.timeout
            probes[key] = {}
            for tool, argv in argvs.items():
                began = time.monotonic()
                probes[key][tool] = probe(argv, outs[tool], args.work, limit)
                print('%s %s %s: %s, %.1f s' % (
                    image.name, size, tool, probes[key][tool].status,
                    time.monotonic() - began), flush=True)
            checks[key] = [
                (what, same_pixels(outs[a], outs[b])) for what, a, b in (
                    ('orvane has the reduced-decode floor\'s pixels',
                     TOOLS.orvane, FLOOR_REDUCED),
                    ('its full decode the floor\'s', ORVANE_FULL,
                     TOOLS.floor))
                if probes[key][a].status == probes[key][b].status == 'ok']
            jobs[key] = {tool: argv for tool, argv in argvs.items()
                         if probes[key][tool].status == 'ok'}
    # The probes warmed the caches, and each gave one peak memory; the
    # small photos get two more, the made ones (seconds to minutes a run)
    # fewer timed runs.
    for big in (False, True):
        some = {key: tools for key, tools in jobs.items()
                if any(i.name == key[0] and i.big == big for i in images)}
        if not some:
            continue
        timed = measure(some, args.big_runs if big else args.runs, args.work,
                        memory_runs=0, warm_up=False)
        for key, tools in some.items():
            results[key] = {}
            for tool, argv in tools.items():
                memory = [probes[key][tool].kilobytes]
                if not big:
                    memory += [peak_kilobytes(argv, args.work)
                               for _ in range(2)]
                results[key][tool] = Measured(timed[key][tool].seconds,
                                              statistics.median(memory))
    quality = picture_quality(args)
    write_thumbnail_markdown(args, images, probes, results, checks, quality)


def write_thumbnail_markdown(args, images, probes, results, checks, quality):
    lines = [THUMBNAILS_BEGIN, '']
    lines += machine_facts(('libfreeimage3', 'libvips-tools', 'imagemagick',
                            'graphicsmagick', 'libjpeg-turbo-progs',
                            'hyperfine', 'mate-backgrounds'))
    lines += ['', 'Median over %d runs of each program on the 17.9-megapixel '
              'photo, %d on the made ones; peak memory is the median of 3 '
              'runs, of 1 on the made ones. A program is given %d s a run '
              '(%d s on the made photo) before it counts as timed out.' % (
                  args.runs, args.big_runs, args.timeout, args.big_timeout),
              '']
    for image in images:
        lines.append('- %s: %dx%d (%.1f megapixels), %s, %.1f MB' % (
            image.name, image.width, image.height, image.megapixels,
            'progressive' if progressive(image.path) else 'baseline',
            os.path.getsize(image.path) / 1e6))
    lines += ['']
    lines += thumbnail_table(images, probes, results) + ['']
    lines += thumbnail_verdicts(images, results, checks) + ['']
    lines += ['### Picture quality', '',
              'PSNR over RGB of orvane\'s thumbnail (saved as PNG) against '
              'the same photo decoded by djpeg\'s defaults and resized by '
              'Pillow\'s Lanczos filter to the same size; "scale" is the '
              'reduced decode a shrink on load takes.', '']
    lines += quality_table(quality) + ['', THUMBNAILS_END]
    replace_section(args.markdown, THUMBNAILS_BEGIN, THUMBNAILS_END, lines)


def main():
    parser = argparse.ArgumentParser()
    runs = parser.add_subparsers(dest='comparison', required=True)
    tools = runs.add_parser('tools', help='orvane, the floor and other tools')
    for option in ('--orvane', '--floor', '--work', '--markdown', '--chart'):
        tools.add_argument(option, required=True)
    wine = runs.add_parser('wine', help='Orvane.exe under Wine and the '
                                        'Linux build')
    for option in ('--orvane', '--empty', '--wine', '--orvane-exe',
                   '--empty-exe', '--dll-versions', '--work', '--markdown'):
        wine.add_argument(option, required=True)
    wine.add_argument('--photos', nargs='*', metavar='NAME',
                      help='only these of the photos (all by default)')
    lossless = runs.add_parser('lossless', help='-lossless, re-encoding and '
                                                'jpegtran')
    for option in ('--orvane', '--floor', '--work', '--markdown'):
        lossless.add_argument(option, required=True)
    thumbnails = runs.add_parser('thumbnails', help='resizes that may '
                                 'decode a JPEG reduced, and vipsthumbnail')
    for option in ('--orvane', '--floor', '--work', '--markdown', '--cache'):
        thumbnails.add_argument(option, required=True)
    thumbnails.add_argument('--big-runs', type=int, default=3,
                            help='runs on the 749-megapixel photos')
    thumbnails.add_argument('--timeout', type=int, default=120,
                            help='seconds a run may take on the small photos')
    thumbnails.add_argument('--big-timeout', type=int, default=300,
                            help='seconds a run may take on the made photos')
    thumbnails.add_argument('--small-only', action='store_true',
                            help='leave the made photos out')
    for sub in (tools, wine, lossless, thumbnails):
        sub.add_argument('--runs', type=int, default=10)
    args = parser.parse_args()
    os.environ.setdefault('TEMP', args.work)
    if args.comparison == 'wine':
        main_wine(args)
        return
    if args.comparison == 'lossless':
        main_lossless(args)
        return
    if args.comparison == 'thumbnails':
        main_thumbnails(args)
        return

    images = inputs(args)
    jobs = {(image.name, case.name): commands(args, case, image)
            for image in images for case in CASES}
    mismatches = check_orvane_matches_floor(args, jobs)
    results = measure(jobs, args.runs, args.work)

    scaled = scaled_inputs(args, images[0])
    scaling_jobs = {}
    for image in scaled:
        for case in SCALING_CASES:
            every = commands(args, case, image)
            scaling_jobs[(image.name, case.name)] = {
                t: every[t] for t in (TOOLS.orvane, TOOLS.floor)}
    scaling = measure(scaling_jobs, args.runs, args.work)

    write_markdown(args, images, scaled, results, scaling, mismatches)
    write_chart(args, images, results)


if __name__ == '__main__':
    main()
