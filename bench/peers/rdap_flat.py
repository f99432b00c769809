#!/usr/bin/env python3
"""The peer of bench_rdapparse: RDAP answers read the way whoisit (a Python RDAP client) reads
them, as a stand-in for it, since whoisit cannot be installed on a machine without the
internet. Written from whoisit's documentation of its result, not from its code: json.loads of
the answer, then one flat dict per object with the fields whoisit documents (handle, parent
handle, name, WHOIS server, type, terms-of-service URL, copyright notice, description lines,
the three dates, the RDAP URL, one entity per role with its handle, URL, type, WHOIS server,
name and email from the jCard; a domain's name servers and statuses, a network's country, IP
version, assignment type and prefix, an AS number's range). whoisit depends on dateutil for its
dates; the stand-in uses datetime.fromisoformat, faster than dateutil's parsers, so the stand-in
is, if anything, quicker than whoisit itself.

Usage: rdap_flat.py RUNS REPEAT FILE...  Prints the best processor time of RUNS passes, each
parsing every file REPEAT times (the files read once beforehand), in seconds per answer, and the
number of fields of the last pass's results (so a caller sees that it read them)."""
import datetime
import ipaddress
import json
import sys
import time


def parse_date(text):
    if not isinstance(text, str) or not text:
        return None
    try:
        return datetime.datetime.fromisoformat(text)
    except ValueError:
        return None


def self_link(obj):
    for link in obj.get('links') or []:
        if isinstance(link, dict) and link.get('rel') == 'self':
            return link.get('href', '')
    return ''


def vcard_values(entity):
    name = email = ''
    card = entity.get('vcardArray')
    if isinstance(card, list) and len(card) > 1 and isinstance(card[1], list):
        for prop in card[1]:
            if not isinstance(prop, list) or len(prop) < 4:
                continue
            if prop[0] == 'fn' and not name:
                name = prop[3] if isinstance(prop[3], str) else ''
            elif prop[0] == 'email' and not email:
                email = prop[3] if isinstance(prop[3], str) else ''
    return name, email


def entities_by_role(obj, rir, into, depth=0):
    if depth > 8:
        return
    for entity in obj.get('entities') or []:
        if not isinstance(entity, dict):
            continue
        name, email = vcard_values(entity)
        flat = {
            'email': email,
            'handle': entity.get('handle', ''),
            'name': name,
            'rir': rir,
            'type': entity.get('objectClassName', ''),
            'url': self_link(entity),
            'whois_server': entity.get('port43', ''),
        }
        for role in entity.get('roles') or []:
            into.setdefault(role, flat)
        entities_by_role(entity, rir, into, depth + 1)


def events(obj):
    dates = {}
    for event in obj.get('events') or []:
        if isinstance(event, dict):
            dates.setdefault(event.get('eventAction', ''), parse_date(event.get('eventDate')))
    return dates


def notices(obj):
    terms = copyright_notice = ''
    for notice in obj.get('notices') or []:
        if not isinstance(notice, dict):
            continue
        title = (notice.get('title') or '').lower()
        if 'terms' in title and not terms:
            for link in notice.get('links') or []:
                if isinstance(link, dict) and link.get('href'):
                    terms = link['href']
                    break
        elif 'copyright' in title and not copyright_notice:
            copyright_notice = ' '.join(notice.get('description') or [])
    return terms, copyright_notice


def description(obj):
    lines = []
    for remark in obj.get('remarks') or []:
        if isinstance(remark, dict):
            lines.extend(line for line in remark.get('description') or [] if isinstance(line, str))
    return lines


def network_of(obj):
    for cidr in obj.get('cidr0_cidrs') or []:
        prefix = cidr.get('v4prefix') or cidr.get('v6prefix')
        if prefix:
            return ipaddress.ip_network(f"{prefix}/{cidr.get('length')}", strict=False)
    start, end = obj.get('startAddress'), obj.get('endAddress')
    if start and end:
        nets = list(ipaddress.summarize_address_range(ipaddress.ip_address(start),
                                                      ipaddress.ip_address(end)))
        return nets[0] if nets else None
    return None


def parse(body, url='', rir=''):
    obj = json.loads(body)
    dates = events(obj)
    terms, copyright_notice = notices(obj)
    entities = {}
    entities_by_role(obj, rir, entities)
    kind = obj.get('objectClassName', '')
    result = {
        'handle': obj.get('handle', ''),
        'parent_handle': obj.get('parentHandle', ''),
        'name': obj.get('name', '') or obj.get('ldhName', ''),
        'whois_server': obj.get('port43', ''),
        'type': kind,
        'terms_of_service_url': terms,
        'copyright_notice': copyright_notice,
        'description': description(obj),
        'last_changed_date': dates.get('last changed'),
        'registration_date': dates.get('registration'),
        'expiration_date': dates.get('expiration'),
        'rir': rir,
        'url': url or self_link(obj),
        'entities': entities,
    }
    if kind == 'domain':
        result['nameservers'] = [ns.get('ldhName', '') for ns in obj.get('nameservers') or []
                                 if isinstance(ns, dict)]
        result['status'] = list(obj.get('status') or [])
    elif kind == 'ip network':
        result['country'] = obj.get('country', '')
        result['ip_version'] = 6 if obj.get('ipVersion') == 'v6' else 4
        result['assignment_type'] = (obj.get('type') or '').lower()
        result['network'] = network_of(obj)
    elif kind == 'autnum':
        result['asn_range'] = [obj.get('startAutnum'), obj.get('endAutnum')]
    return result


def main():
    runs, repeat = int(sys.argv[1]), int(sys.argv[2])
    bodies = []
    for path in sys.argv[3:]:
        with open(path, 'rb') as f:
            bodies.append(f.read())
    best = float('inf')
    fields = 0
    for _ in range(runs):
        start = time.process_time()
        for _ in range(repeat):
            results = [parse(body) for body in bodies]
        best = min(best, time.process_time() - start)
        fields = sum(len(r) + len(r['entities']) for r in results)
    print(f'{best / (len(bodies) * repeat):.9f} {fields}')


main()
