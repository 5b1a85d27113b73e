-- A pandoc filter that makes one of the repository's Markdown texts the plain
-- text a package carries, for Notepad as much as for a terminal:
--   pandoc -f gfm -t plain --columns=80 --lua-filter plain_text.lua
--          -M source=docs/messages.md -M packaged=README.md,LICENSE,docs/messages.md
-- source is the text's path in the repository; packaged, the texts the package
-- holds, each as its path with .md made .txt (or .txt appended).
--
-- A block after <!-- source only --> is left out, and after a heading so
-- marked, its whole section. Tables become lists, since a row wider than 80
-- columns can't stay a row; headings are underlined; inline code is words,
-- so that a long message wraps, quoted where it has several. A link names
-- the package's file; a link to a file the package lacks is left out with its
-- parentheses, or is an error.

local source, dir, packaged = '', '', {}

local function read_meta(meta)
  source = pandoc.utils.stringify(meta.source or '')
  dir = source:match('^(.*/)') or ''
  for path in pandoc.utils.stringify(meta.packaged or ''):gmatch('[^,]+') do
    packaged[path] = true
  end
end

-- The repository path a link leads to, or nil for an address elsewhere.
local function resolve(target)
  local path = target:gsub('#.*$', '')
  if path == '' then return source end
  if path:match('^%a[%w+.-]*:') then return nil end
  local parts = {}
  for part in (dir .. path):gmatch('[^/]+') do
    if part == '..' then
      table.remove(parts)
    elseif part ~= '.' then
      table.insert(parts, part)
    end
  end
  return table.concat(parts, '/')
end

-- A packaged file's name as seen from this text's folder.
local function package_name(path)
  local name = path:match('%.md$') and path:gsub('%.md$', '.txt') or path .. '.txt'
  if name:sub(1, #dir) == dir then return name:sub(#dir + 1) end
  local up = select(2, dir:gsub('/', ''))
  return string.rep('../', up) .. name
end

local function unpackaged(link)
  local path = link.t == 'Link' and resolve(link.target)
  return path and path ~= source and not packaged[path]
end

local function is_marker(block)
  return block.t == 'RawBlock' and block.text:match('^<!%-%-%s*source only%s*%-%->%s*$')
end

-- Leaves out what is marked as the source's only, and the items of a list
-- that begin with a link to a file the package lacks.
local leave_out = {
  Pandoc = function(doc)
    local blocks, skip_level, i = pandoc.List(), nil, 1
    while i <= #doc.blocks do
      local block = doc.blocks[i]
      if skip_level and block.t == 'Header' and block.level <= skip_level then skip_level = nil end
      if is_marker(block) then
        local next = doc.blocks[i + 1]
        if next and next.t == 'Header' then skip_level = next.level end
        i = i + 1
      elseif not skip_level then
        blocks:insert(block)
      end
      i = i + 1
    end
    doc.blocks = blocks
    return doc
  end,
}
local leave_out_items = {
  BulletList = function(list)
    list.content = list.content:filter(function(item)
      local first = item[1] and item[1].content and item[1].content[1]
      return not (first and unpackaged(first))
    end)
    if #list.content == 0 then return {} end
    return list
  end,
}

-- The words of a text, a lone mark such as the "!" of "Done !" kept with
-- the word before it, so that no line starts with it.
local function words(text)
  local inlines = pandoc.List()
  for word in text:gmatch('%S+') do
    if #inlines > 0 and word:match('^%p+$') then
      inlines[#inlines] = pandoc.Str(inlines[#inlines].text .. ' ' .. word)
    else
      if #inlines > 0 then inlines:insert(pandoc.Space()) end
      inlines:insert(pandoc.Str(word))
    end
  end
  return inlines
end

local function is_space(inline)
  return inline and (inline.t == 'Space' or inline.t == 'SoftBreak')
end

-- A link to a file the package lacks, named by its own path: dropped with the
-- "(" or "(see " before it and the ")" after it.
local function drop_parenthesised(out, inlines, i, link)
  local before, after = out[#out], inlines[i + 1]
  local opening = nil
  if before and before.t == 'Str' and before.text:match('%($') then
    opening = #out
  elseif is_space(before) and out[#out - 1] and out[#out - 1].t == 'Str'
      and out[#out - 1].text:match('%(see$') then
    opening = #out - 1
  end
  if not opening or not (after and after.t == 'Str' and after.text:match('^%)')) then
    error(source .. ': "' .. pandoc.utils.stringify(link) .. '" names ' .. resolve(link.target)
          .. ', which the package lacks: put it in parentheses, or mark its block'
          .. ' <!-- source only -->', 0)
  end
  local text = out[opening].text:gsub('%(see$', ''):gsub('%($', '')
  while #out >= opening do out:remove() end
  if text ~= '' then
    out:insert(pandoc.Str(text))
  elseif is_space(out[#out]) then
    out:remove()
  end
  inlines[i + 1] = pandoc.Str(after.text:sub(2))
end

local function link_inlines(out, inlines, i)
  local link = inlines[i]
  local path = resolve(link.target)
  local text = pandoc.utils.stringify(link.content)
  local named_by_path = text == link.target:gsub('#.*$', '')
  if not path then
    out:extend(link.content)
    if text ~= link.target then out:extend({ pandoc.Space(), pandoc.Str('<' .. link.target .. '>') }) end
  elseif path == source then
    out:extend(link.content)
  elseif packaged[path] then
    if not named_by_path then
      out:extend(link.content)
      out:extend({ pandoc.Space(), pandoc.Str('in'), pandoc.Space() })
    end
    out:insert(pandoc.Str(package_name(path)))
  elseif named_by_path then
    drop_parenthesised(out, inlines, i, link)
  else
    out:extend(link.content)
  end
end

local function cell_inlines(cell)
  return pandoc.utils.blocks_to_inlines(cell.contents)
end

-- A list's term is not wrapped by pandoc: its words are, here.
local function wrapped(inlines)
  local out, width = pandoc.List(), 0
  for _, word in ipairs(words(pandoc.utils.stringify(inlines))) do
    if word.t == 'Str' then
      local len = pandoc.text.len(word.text)
      if width > 0 and width + 1 + len > 80 then
        out:insert(pandoc.LineBreak())
        width = 0
      elseif width > 0 then
        out:insert(pandoc.Space())
        width = width + 1
      end
      out:insert(word)
      width = width + len
    end
  end
  return out
end

-- Each row a term, its first cell, and below it the other cells, each after
-- its column's name where the table has more than two.
local function table_as_list(tbl)
  local names = {}
  for _, row in ipairs(tbl.head.rows) do
    for c, cell in ipairs(row.cells) do names[c] = pandoc.utils.stringify(cell.contents) end
  end
  local items = {}
  for _, body in ipairs(tbl.bodies) do
    for _, row in ipairs(body.body) do
      local lines = pandoc.List()
      for c = 2, #row.cells do
        local value = cell_inlines(row.cells[c])
        if #value > 0 then
          if #lines > 0 then lines:insert(pandoc.LineBreak()) end
          if #row.cells > 2 and (names[c] or '') ~= '' then
            lines:extend({ pandoc.Str(names[c] .. ':'), pandoc.Space() })
          end
          lines:extend(value)
        end
      end
      table.insert(items, { wrapped(cell_inlines(row.cells[1])), { { pandoc.Plain(lines) } } })
    end
  end
  return pandoc.DefinitionList(items)
end

local plain = {
  Code = function(code)
    if not code.text:match('%s') then return pandoc.Str(code.text) end
    -- A command stays on one line; a long message wraps.
    if pandoc.text.len(code.text) <= 40 then return pandoc.Str('"' .. code.text .. '"') end
    return words('"' .. code.text .. '"')
  end,
  Image = function() return {} end,
  Inlines = function(inlines)
    local out = pandoc.List()
    for i = 1, #inlines do
      if inlines[i].t == 'Link' then link_inlines(out, inlines, i) else out:insert(inlines[i]) end
    end
    return out
  end,
  Para = function(para)
    if #para.content == 0 then return {} end
  end,
  Table = table_as_list,
  Header = function(header)
    local text = pandoc.utils.stringify(header)
    local rule = ({ '=', '-' })[header.level]
    if not rule then return pandoc.Para({ pandoc.Str(text) }) end
    return pandoc.Para({ pandoc.Str(text), pandoc.LineBreak(), pandoc.Str(rule:rep(pandoc.text.len(text))) })
  end,
}

return { { Meta = read_meta }, leave_out, leave_out_items, plain }
