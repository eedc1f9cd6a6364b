#!/usr/bin/python3
"""Writes a large device configuration for acl-devhost --config.

The configuration is the built-in sample (devhost/data/sample_config.json)
with the rows of one rule table replaced by N generated rules, for load and
streaming tests:

    scripts/gen_config.py --rules 100000 > big.json
    scripts/gen_config.py --rules 5000 --table IPv6AdvanceRules --seed 7

With --request M it writes instead a request for that configuration's
table, in protobuf's JSON mapping as aclctl takes it: M of the generated
rules, spread evenly, each asked for by its group and rule number:

    scripts/gen_config.py --rules 300000 --request 10000 > request.json
    aclctl IPv4BasicRules @request.json

The same arguments always give the same output. Rules are numbered in steps
of 5 within a group and spread over consecutive groups (2000.. for basic,
3000.. for advance, 4000.. for MAC, 5000.. for user-defined rules; named
tables use the groups gen-0000, gen-0001, ...). Every value is one that the
development host's value checks accept.
"""

import argparse
import json
import os
import random
import sys

SAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir,
                      'devhost', 'data', 'sample_config.json')

TCP, UDP, ICMP, GRE, ICMP6 = 6, 17, 1, 47, 58
PORT_EQ, PORT_GT, PORT_RANGE = 3, 2, 5
RULE_STEP = 5
MAX_RULE_ID = 65534
MAX_GROUPS = 1000  # a thousand numbers per group family


# ---- Value makers -----------------------------------------------------------

def ipv4_net(rng):
    """A host or a /24 as (address, wildcard)."""
    a, b, c = rng.randrange(1, 224), rng.randrange(256), rng.randrange(256)
    if a in (127, 169):
        a = 10
    if rng.random() < 0.5:
        return '%d.%d.%d.%d' % (a, b, c, rng.randrange(1, 255)), '0.0.0.0'
    return '%d.%d.%d.0' % (a, b, c), '0.0.0.255'


def ipv6_net(rng):
    """A prefix of 2001:db8::/32 as (address, prefix length)."""
    prefix = rng.choice([48, 56, 64, 128])
    groups = [rng.randrange(0x10000) for _ in range(3)]
    if prefix == 128:
        return '2001:db8:%x:%x:%x::%x' % (*groups, rng.randrange(1, 0x10000)), 128
    if prefix == 48:
        return '2001:db8:%x::' % groups[0], 48
    if prefix == 56:
        return '2001:db8:%x:%x::' % (groups[0], groups[1] & 0xff00), 56
    return '2001:db8:%x:%x::' % (groups[0], groups[1]), 64


def mac(rng):
    return '-'.join('%02x' % b for b in
                    [rng.randrange(256) & 0xfe] + [rng.randrange(256) for _ in range(5)])


def counter(rng):
    """A match counter: mostly small, sometimes beyond 32 bits."""
    if rng.random() < 0.1:
        return rng.randrange(2 ** 32, 2 ** 40)
    return rng.randrange(0, 10 ** rng.randrange(1, 8))


def port(rng):
    if rng.random() < 0.7:
        return {'Op': PORT_EQ, 'Value1': rng.choice([22, 25, 53, 80, 123, 443,
                                                      3306, 8080, 8443]),
                'Value2': 0}
    low = rng.randrange(1024, 60000)
    return {'Op': PORT_RANGE, 'Value1': low, 'Value2': low + rng.randrange(1, 5000)}


def port_entry(prefix, p):
    return {prefix + 'Op': p['Op'], prefix + 'Value1': p['Value1'],
            prefix + 'Value2': p['Value2']}


def common(rng, i):
    """The bookkeeping columns most rule tables share."""
    return {'Counting': rng.random() < 0.8, 'Comment': 'generated rule %d' % i,
            'Status': 1, 'Count': counter(rng)}


# ---- Rule makers, one per table family -------------------------------------

def basic4(rng, i):
    addr, wildcard = ipv4_net(rng)
    rule = {'Action': rng.randrange(2), 'SrcAny': False,
            'SrcIPv4': [{'SrcIPv4Addr': addr, 'SrcIPv4Wildcard': wildcard}],
            'Fragment': False, 'Logging': rng.random() < 0.2}
    rule.update(common(rng, i))
    return rule


def basic6(rng, i):
    addr, prefix = ipv6_net(rng)
    rule = {'Action': rng.randrange(2), 'SrcAny': False,
            'SrcIPv6': [{'SrcIPv6Addr': addr, 'SrcIPv6Prefix': prefix}],
            'RoutingTypeAny': False, 'Fragment': False,
            'Logging': rng.random() < 0.2}
    rule.update(common(rng, i))
    return rule


def advance(rng, i, v6):
    proto = rng.choice([TCP, TCP, UDP, ICMP6 if v6 else ICMP])
    rule = {'Action': rng.randrange(2), 'ProtocolType': proto,
            'Fragment': False, 'Logging': rng.random() < 0.2}
    for side in ('Src', 'Dst'):
        if rng.random() < 0.3:
            rule[side + 'Any'] = True
            continue
        rule[side + 'Any'] = False
        if v6:
            addr, prefix = ipv6_net(rng)
            rule[side + 'IPv6'] = [{side + 'IPv6Addr': addr,
                                    side + 'IPv6Prefix': prefix}]
        else:
            addr, wildcard = ipv4_net(rng)
            rule[side + 'IPv4'] = [{side + 'IPv4Addr': addr,
                                    side + 'IPv4Wildcard': wildcard}]
    if proto in (TCP, UDP):
        rule['DstPort'] = [port_entry('DstPort', port(rng))]
        if rng.random() < 0.2:
            rule['SrcPort'] = [{'SrcPortOp': PORT_GT, 'SrcPortValue1': 1023,
                                'SrcPortValue2': 0}]
    if proto == TCP and rng.random() < 0.2:
        rule['Established'] = True
    if proto == ICMP:
        rule['ICMP'] = [{'ICMPType': rng.choice([0, 3, 8, 11]), 'ICMPCode': 0}]
    if proto == ICMP6:
        rule['ICMP6'] = [{'ICMP6Type': rng.choice([1, 128, 129, 135, 136]),
                          'ICMP6Code': 0}]
    if rng.random() < 0.1:
        rule['DSCP'] = rng.choice([0, 10, 18, 26, 34, 46])
    rule.update(common(rng, i))
    return rule


def mac_rule(rng, i):
    rule = {'Action': rng.randrange(2),
            'SrcMACAddr': [{'SrcMACAddress': mac(rng),
                            'SrcMACMask': 'ff-ff-ff-ff-ff-ff'}]}
    if rng.random() < 0.5:
        rule['Protocol'] = [{'ProtocolType': rng.choice(['0x0800', '0x86dd',
                                                         '0x0806']),
                             'ProtocolTypeMask': '0xffff'}]
    if rng.random() < 0.2:
        rule['COS'] = rng.randrange(8)
    rule.update(common(rng, i))
    return rule


def user_rule(rng, i):
    layer = rng.choice(['L2', 'L4', 'L5'])
    offset = {'L2': 12, 'L4': rng.randrange(0, 40, 2), 'L5': 0}[layer]
    rule = {'Action': rng.randrange(2),
            layer + 'Rule': [{layer + 'RuleString': '0x%04x' % rng.randrange(0x10000),
                              layer + 'RuleMask': '0xffff',
                              layer + 'Offset': offset}],
            'UdfFormat': 1 if layer == 'L2' else 2}
    if layer != 'L2':
        rule['ProtocolType'] = rng.choice([TCP, UDP])
        rule['SrcAny'] = True
        rule['DstAny'] = True
    rule.update(common(rng, i))
    return rule


# table -> (rule maker, first group number, named)
TABLES = {
    'IPv4BasicRules': (basic4, 2000, False),
    'IPv4NamedBasicRules': (basic4, 2000, True),
    'IPv6BasicRules': (basic6, 2000, False),
    'IPv6NamedBasicRules': (basic6, 2000, True),
    'IPv4AdvanceRules': (lambda r, i: advance(r, i, False), 3000, False),
    'IPv4NamedAdvanceRules': (lambda r, i: advance(r, i, False), 3000, True),
    'IPv6AdvanceRules': (lambda r, i: advance(r, i, True), 3000, False),
    'IPv6NamedAdvanceRules': (lambda r, i: advance(r, i, True), 3000, True),
    'MACRules': (mac_rule, 4000, False),
    'MACNamedRules': (mac_rule, 4000, True),
    'UserRules': (user_rule, 5000, False),
    'UserNamedRules': (user_rule, 5000, True),
}


def rules_per_group(count):
    """Rules in each group: a thousand, or more when the groups run out."""
    per = max(1000, -(-count // MAX_GROUPS))
    if (per - 1) * RULE_STEP > MAX_RULE_ID:
        return None
    return per


def generate(table, count, seed):
    """Yields `count` rules of `table`, the same ones for the same seed."""
    make, first_group, named = TABLES[table]
    rng = random.Random('%s/%d' % (table, seed))
    per = rules_per_group(count)
    for i in range(count):
        group, position = divmod(i, per)
        head = ({'GroupIndex': 'gen-%04d' % group} if named
                else {'GroupID': first_group + group})
        head['RuleID'] = position * RULE_STEP
        head.update(make(rng, i))
        if make is not user_rule:  # user-defined rules have no MatchIndex
            head['MatchIndex'] = position + 1
        yield head


def rule_keys(table, count, asked):
    """The keys of `asked` of `count` generated rules, spread evenly."""
    _, first_group, named = TABLES[table]
    per = rules_per_group(count)
    for n in range(asked):
        group, position = divmod(n * count // asked, per)
        key = ({'GroupIndex': 'gen-%04d' % group} if named
               else {'GroupID': first_group + group})
        key['RuleID'] = position * RULE_STEP
        yield key


def write_request(out, table, count, asked):
    """Writes a request for `asked` of the rules of the configuration."""
    out.write('{"rule": [')
    for n, key in enumerate(rule_keys(table, count, asked)):
        out.write(',\n  ' if n else '\n  ')
        out.write(json.dumps(key, separators=(',', ':')))
    out.write('\n]}\n' if asked else ']}\n')


def write(out, base, table, count, seed):
    """Writes the configuration: `base` with `table`'s rows generated, one
    rule per line, never holding all rules in memory."""
    out.write('{\n')
    names = list(base)
    if table not in names:
        names.append(table)
    for n, name in enumerate(names):
        out.write('  %s: ' % json.dumps(name))
        if name == table:
            out.write('{"Rule": [')
            for i, rule in enumerate(generate(table, count, seed)):
                out.write(',\n    ' if i else '\n    ')
                out.write(json.dumps(rule, separators=(',', ':')))
            out.write('\n  ]}' if count else ']}')
        else:
            out.write(json.dumps(base[name], separators=(',', ':')))
        out.write(',\n' if n + 1 < len(names) else '\n')
    out.write('}\n')


def main():
    parser = argparse.ArgumentParser(
        description=__doc__.split('\n\n')[0],
        epilog='Rule tables: ' + ', '.join(TABLES) + '.')
    parser.add_argument('--rules', type=int, required=True, metavar='N',
                        help='number of rules to generate (0 or more)')
    parser.add_argument('--table', default='IPv4BasicRules', metavar='TABLE',
                        help='the rule table to fill (default: %(default)s)')
    parser.add_argument('--seed', type=int, default=1, metavar='S',
                        help='random seed; the same seed gives the same '
                             'rules (default: %(default)s)')
    parser.add_argument('--request', type=int, metavar='M',
                        help='write a request for M of the rules instead '
                             'of the configuration')
    parser.add_argument('--base', default=SAMPLE, metavar='FILE',
                        help='configuration whose other tables are kept '
                             '(default: the built-in sample)')
    args = parser.parse_args()
    if args.table not in TABLES:
        parser.error('unknown rule table %r; one of: %s'
                     % (args.table, ', '.join(TABLES)))
    if args.rules < 0:
        parser.error('--rules must be 0 or more')
    if rules_per_group(args.rules) is None:
        parser.error('--rules: at most %d rules fit in %d groups'
                     % (MAX_GROUPS * (MAX_RULE_ID // RULE_STEP + 1), MAX_GROUPS))
    if args.request is not None:
        if not 0 <= args.request <= args.rules:
            parser.error('--request must be from 0 to --rules')
        try:
            write_request(sys.stdout, args.table, args.rules, args.request)
        except BrokenPipeError:
            sys.exit(1)
        return
    try:
        with open(args.base, encoding='utf-8') as f:
            base = json.load(f)
    except (OSError, ValueError) as e:
        sys.exit('gen_config.py: cannot read %s: %s' % (args.base, e))
    try:
        write(sys.stdout, base, args.table, args.rules, args.seed)
    except BrokenPipeError:
        sys.exit(1)


if __name__ == '__main__':
    main()
